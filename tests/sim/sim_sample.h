// The sample installation on the simulated machine: the vendor's items of
// every kind that a run removes (boards of every family with the monitor and
// its services, the DMA driver, shortcuts, the installation folder with its
// background processes, documents and installer folders, catalogue keys,
// installer products with cached packages, environment values, System32
// libraries and drivers, a driver package in the store) and look-alikes of
// other vendors beside them, after tests/e2e/sample.py.
#pragma once

#include <string>
#include <vector>

#include "../safety/safety_machine.h"

struct SimSample {
  // The vendor's items as safety ids ("file C:\...", "key HKLM\...",
  // "value HKLM\... : NAME", "process n IMAGE", "service NAME"); everything
  // below a file or key id is the vendor's too.
  std::vector<std::string> vendorRoots;
  bool IsVendor(const std::string& id) const;
};

// Puts the sample on the freshly reset simulation, the working directory
// C:\Riruv holding the vendor's tools.
SimSample InstallSimSample();

// The vendor's board monitor as it behaves: one instance shows its window and
// exits when the window is closed; a second start finds it and exits.
void InstallVendorMonitor();
