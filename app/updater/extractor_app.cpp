// ExtractorApp: the application object. The whole program runs inside the
// dialog's modal loop; the code of the quit request that ends it is the
// exit status.
#include <windows.h>
#include <commctrl.h>

#include "app/updater/extractor_dialog.h"

namespace fwpack {

class ExtractorApp {
  public:
    // Runs the dialog modally; false: there is no application loop after it.
    bool InitInstance() {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        ExtractorDialog dialog(GetModuleHandleA(nullptr));
        exitCode_ = dialog.ExitStatus(dialog.DoModal());
        return false;
    }
    int ExitCode() const { return exitCode_; }

  private:
    int exitCode_ = 0;
};

namespace {
ExtractorApp theApp;
}

}  // namespace fwpack

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    fwpack::theApp.InitInstance();
    return fwpack::theApp.ExitCode();
}
