// The registry step: the registry catalogue row by row, with the vendor
// product discovery and the environment values at their fixed places.
#include <string>

#include "run/progress_window.h"
#include "registry/registry.h"
#include "registry/registry_catalogue.h"
#include "registry/user_profiles.h"

namespace {

using namespace RegistryCatalogue;

// Rows first to last, numbered from 1 as in the catalogue. Every row is
// attempted whatever became of the rows before it; a key that stays is told
// to the context's sink.
void DeleteRows(const CleanupContext& context, size_t first, size_t last) {
  for (size_t row = first; row <= last && row <= kRowCount; ++row) {
    const Row& entry = kRows[row - 1];
    RegistryKeyLeft left;
    if (!DeleteRegistryTree(RootKey(entry.root), entry.path, &left) && context.registryKeyLeft)
      context.registryKeyLeft(std::string(RootName(entry.root)) + "\\" + entry.path, left.key, left.error,
                              context.registryKeyLeftContext);
  }
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

  DeleteRows(context, 1, 22);
  ProgressWindow::Step(window);

  DeleteRows(context, 23, 63);
  ProgressWindow::Step(window);

  DeleteRows(context, 64, 80);
  // Its class registrations are gone (rows 69, 70); its user data, which names
  // the cached package, goes with row 81.
  DeleteCachedPackage(kRegistryStepPackedCode);
  DeleteVendorInstallerProducts(context.registryKeyLeft, context.registryKeyLeftContext);

  DeleteRows(context, 81, 89);
  RemoveSystemEnvironmentValues();

  DeleteRows(context, 90, 94);
  RemoveControlSetValues();

  DeleteRows(context, 95, 129);
  if (context.everyProfile) DeleteProfileKeys(context);
  ProgressWindow::Step(window);
}
