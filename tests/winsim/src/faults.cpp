// Faults: the machine-changing calls counted, one of them failed, or the
// program ended at one of them (see FaultState).
#include "internal.h"

namespace winsim {

DWORD MachineChange(const std::string& call, const std::string& what, DWORD plausibleError) {
  FaultState& faults = M().faults;
  if (faults.ended) return ERROR_ACCESS_DENIED;  // no process is left to make the change
  if (!faults.counting || faults.inChild) return 0;
  ++faults.calls;
  std::string change = call + " " + what;
  faults.changes.push_back(change);
  if (faults.calls == faults.endAt) {
    faults.ended = true;
    faults.hit = change;
    throw ProcessEnded();
  }
  if (faults.calls != faults.failAt) return 0;
  faults.hit = change;
  faults.hitError = faults.failError ? faults.failError : plausibleError;
  Trace("fault: " + change + " -> " + std::to_string(faults.hitError));
  return faults.hitError;
}

bool ProgramEnded() { return M().faults.ended; }

void ForgetAllOpenFiles();

void StartNewProcess() {
  ForgetAllOpenFiles();
  ResetHandles();
  ResetRegistryHandles();
  M().files.openSearches = 0;
  TokenState& tokens = M().tokens;
  tokens.threadImpersonating = false;
  tokens.threadPrivileges.clear();
  for (SimWindow& window : M().ui.windows)
    if (!window.onMessage) window.destroyed = true;  // the program's own windows end with it
  M().faults.ended = false;
}

}  // namespace winsim
