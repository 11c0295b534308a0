#include "service/main/HostPlatform.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "common/Logger.h"
#include "common/Text.h"

namespace zorvek::svc::host {
namespace {

void (*g_consoleStop)() = nullptr;


// Appends `value` in hexadecimal with at least `digits` digits; no allocation, no locale.
char* putHex(char* p, uint64_t value, int digits) {
  char tmp[16];
  int n = 0;
  do {
    tmp[n++] = "0123456789ABCDEF"[value & 0xF];
    value >>= 4;
  } while (value != 0 && n < 16);
  while (n < digits) tmp[n++] = '0';
  while (n > 0) *p++ = tmp[--n];
  return p;
}

char* putDecimal(char* p, uint64_t value) {
  char tmp[20];
  int n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) *p++ = tmp[--n];
  return p;
}

char* putText(char* p, const char* text) {
  while (*text) *p++ = *text++;
  return p;
}

void crashSignal(int signo, siginfo_t* info, void*) {
  // Async-signal-safe: the line is built by hand and written with one write().
  char text[160];
  char* p = putText(text, "UNHANDLED EXCEPTION code=0x");
  p = putHex(p, static_cast<uint32_t>(signo), 8);
  p = putText(p, " address=0x");
  p = putHex(p, reinterpret_cast<uintptr_t>(info ? info->si_addr : nullptr), 1);
  p = putText(p, " thread=");
  p = putDecimal(p, static_cast<uint64_t>(::gettid()));
  *p = '\0';
  writeCrashRecord(text);
  // The default action ends the process with the signal, as it would have without us.
  signal(signo, SIG_DFL);
  raise(signo);
}

}  // namespace

bool runServiceDispatcher(void (*)(), uint32_t* win32Error) {
  if (win32Error) *win32Error = 1063;  // as Windows reports a program not started as a service
  return false;
}

bool registerControlHandler(void (*)()) { return false; }

void reportStatus(ServiceState, uint32_t, uint32_t) {}

void installConsoleStopHandler(void (*onStop)()) {
  g_consoleStop = onStop;
  // Setting the stop event takes a lock, which a signal handler must not: the signals are
  // blocked here (threads started later inherit that) and taken by a thread of their own.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    for (;;) {
      int signo = 0;
      if (sigwait(&set, &signo) == 0 && g_consoleStop) g_consoleStop();
    }
  }).detach();
}

void ensureConsole() {}

void printLine(const std::wstring& text) {
  const std::string bytes = toUtf8(text) + "\n";
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void installCrashHandler() {
  struct sigaction sa {};
  sa.sa_sigaction = crashSignal;
  sa.sa_flags = SA_SIGINFO;
  sigemptyset(&sa.sa_mask);
  for (int signo : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) sigaction(signo, &sa, nullptr);
}

bool minifilterRegistered() { return false; }

}  // namespace zorvek::svc::host
