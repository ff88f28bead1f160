// Reading and answering the message boxes that the code under test shows on the test thread.
#pragma once

#include <windows.h>
#include <string>

#include "common/owners.h"

namespace registration_tests {

// A message box as seen on the screen.
struct SeenBox {
    bool seen = false;
    std::string caption;
    std::string text;
    HICON icon = nullptr; // the icon the box shows, compared with LoadIcon(nullptr, IDI_...)
    bool hasOwner = true;
};

// While alive, a second thread waits for one top-level dialog window (#32770) of this process,
// reads it and answers it with IDOK, so that a call that shows a box on the test thread comes
// back. Wait() joins the thread and gives what it saw; after timeoutMs without a box it gives
// an unseen box. With a caption, only a dialog window with that caption counts.
class BoxAnswerer {
  public:
    explicit BoxAnswerer(DWORD timeoutMs = 10000, const char* caption = nullptr);
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;
    ~BoxAnswerer();
    SeenBox Wait();

  private:
    static DWORD WINAPI Run(void* self);
    void Watch(DWORD timeoutMs, const char* caption);
    void Join();
    DWORD timeoutMs_;
    const char* caption_;
    SeenBox box_;
    KernelHandle thread_;
};

// The first visible top-level window of this process with the given class (and, if not null,
// caption), or null.
HWND FindOwnWindow(const char* className, const char* caption = nullptr);

std::string WindowText(HWND window);

} // namespace registration_tests
