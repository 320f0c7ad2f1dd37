// Process start-up: the platform layer first, then the tool. An exception
// that escapes the tool is the last-chance case: its description goes to
// standard error and the process ends with exit code 1.
#include <exception>
#include <new>

#include "Exception.h"
#include "Quillon.h"
#include "SysApi.h"
#include "WideText.h"
#include "uMsg_Quillon.h"

namespace {

int ReportEscapedException(const std::u16string& description) {
    WriteStdErr((description.empty() ? u"Exception" : description) + u"\r\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        InitPlatform(argc, argv);
        return RunQuillon();
    } catch (const Exception& e) {
        return ReportEscapedException(e.Message());
    } catch (const std::bad_alloc&) {
        return ReportEscapedException(std::u16string(msg::OutOfMemory));
    } catch (const std::exception& e) {
        return ReportEscapedException(Utf8ToWide(e.what()));
    }
}
