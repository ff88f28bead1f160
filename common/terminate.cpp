// What std::terminate calls, linked into every program.
//
// The C++ runtime's default handler, __gnu_cxx::__verbose_terminate_handler, prints the type of
// the exception in flight, and to name that type it links the runtime's whole name demangler.
// The runtime refers to that handler even where nothing calls std::set_terminate, and the
// exception tables keep every function they describe in the image, so the linker's dropping of
// unused sections cannot take the demangler out. A definition of the handler here means the
// linker never takes the runtime's from its library, nor the demangler with it.
//
// Nothing in Corvane lets an exception escape on purpose (the COM boundary turns them into
// HRESULTs, corvane-cli reports them), so this runs only on a fault; it still says what was
// thrown, when it can, before the process ends.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

void WriteError(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

} // namespace

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    WriteError("terminate called");
    if (std::exception_ptr thrown = std::current_exception()) {
        try {
            std::rethrow_exception(thrown);
        } catch (const std::exception& failure) {
            WriteError(" after an exception: ");
            WriteError(failure.what());
        } catch (...) {
            WriteError(" after an exception");
        }
    }
    WriteError("\n");
    std::abort();
}

} // namespace __gnu_cxx
