#include "LogCapture.h"

#include "TestUtil.h"
#include "common/Logger.h"

namespace zorvek::test {

LogCapture::LogCapture() { Logger::instance().open(dir_.file(L"zorvek.log")); }
LogCapture::~LogCapture() { Logger::instance().close(); }
std::string LogCapture::text() const { return readFile(dir_.file(L"zorvek.log")); }
bool LogCapture::contains(const std::string& text) const {
  return this->text().find(text) != std::string::npos;
}

}  // namespace zorvek::test
