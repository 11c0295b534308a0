# Shared by the end-to-end scripts that talk to the reference update server, natively or under
# Wine. Source it with BIN_DIR [WINE_RUN] PIPE_TAG: lib.sh's folders and checks, then exe,
# native() (a path as the service sees it), a private pipe, and ZORVEK_HOSTS ($work/hosts: the
# web shield never touches the machine's hosts file).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh" "$1"
run=$2
if [ -n "$run" ]; then
  exe=.exe
  native() { local p=${1//\//\\}; echo "Z:$p"; }
  export ZORVEK_PIPE='\\.\pipe\Zorvek'$3'-'$$
else
  exe=
  native() { echo "$1"; }
fi
ZORVEK_DATA_DIR=$(native "$work/data")
ZORVEK_HOSTS=$(native "$work/hosts")
export ZORVEK_DATA_DIR ZORVEK_HOSTS

lacks() { grep -qF -- "$2" <<<"$out" && fail "$1: unexpected '$2' in: $out"; }
ctl() { ${run:+"$run"} "$bin/zorvekctl$exe" "$@"; }

# start_server FOLDER PORTFILE [--tls CERT KEY]: the reference update server on a free port of
# 127.0.0.1; prints its pid.
start_server() {
  local folder=$1 portfile=$2
  shift 2
  python3 "$(dirname "${BASH_SOURCE[0]}")/../../scripts/update_server.py" "$folder" --port 0 \
    --port-file "$portfile" --quiet "$@" >/dev/null &
  echo $!
}
# wait_port PORTFILE: prints the port once the server wrote it.
wait_port() {
  for _ in $(seq 200); do [ -s "$1" ] && { head -n1 "$1"; return 0; }; sleep 0.05; done
  return 1
}
