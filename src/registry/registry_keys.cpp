// The registry step: the registry catalogue row by row, with the vendor
// product discovery and the environment values at their fixed places.
#include "run/progress_window.h"
#include "registry/registry.h"
#include "registry/registry_catalogue.h"

namespace {

using namespace RegistryCatalogue;

// Rows first to last, numbered from 1 as in the catalogue. Every row is
// attempted whatever became of the rows before it.
void DeleteRows(size_t first, size_t last) {
  for (size_t row = first; row <= last && row <= kRowCount; ++row)
    DeleteRegistryTree(RootKey(kRows[row - 1].root), kRows[row - 1].path);
}

void RemoveSystemEnvironmentValues() {
  HKEY environment = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSystemEnvironmentKey, 0, KEY_ALL_ACCESS, &environment) !=
      ERROR_SUCCESS)
    return;
  for (const char* name : kSystemEnvironmentValues) RegDeleteValueA(environment, name);
  RegCloseKey(environment);
}

void RemoveControlSetValues() {
  for (const EnvironmentValue& value : kControlSetValues) {
    HKEY environment = nullptr;
    if (RegOpenKeyExA(RootKey(value.root), value.key, 0, KEY_ALL_ACCESS, &environment) !=
        ERROR_SUCCESS)
      continue;
    RegDeleteValueA(environment, value.name);
    RegCloseKey(environment);
  }
}

}  // namespace

void DeleteRegistryKeys(CleanupContext& context) {
  HWND window = context.progressWindow;
  ProgressWindow::SetCaption(window, "Deleting registry keys");
  ProgressWindow::Step(window);

  DeleteRows(1, 22);
  ProgressWindow::Step(window);

  DeleteRows(23, 63);
  ProgressWindow::Step(window);

  DeleteRows(64, 80);
  // Its class registrations are gone (rows 69, 70); its user data, which names
  // the cached package, goes with row 81.
  DeleteCachedPackage(kRegistryStepPackedCode);
  DeleteVendorInstallerProducts();

  DeleteRows(81, 89);
  RemoveSystemEnvironmentValues();

  DeleteRows(90, 94);
  RemoveControlSetValues();

  DeleteRows(95, 129);
  ProgressWindow::Step(window);
}
