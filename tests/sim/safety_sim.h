// Generated machines on the simulated Windows: a machine description
// (tests/safety) built on the freshly reset simulation, and the state of the
// simulated machine read back as the safety checks compare it.
#pragma once

#include <set>
#include <string>

#include "../safety/safety_machine.h"

// Puts a generated machine on the freshly reset simulation.
void Build(const safety::Machine& machine);

// Every key with its values byte for byte, every file with its attributes,
// flags and content, the processes still running and the services not deleted.
safety::Snapshot Snap();

// The ids of a state that a report item stands for (its kind as the JSON
// report names it, its path and value name as the report gives them): the item
// itself and, for a folder or key, everything the state holds below it.
std::set<std::string> IdsOf(const std::string& kind, const std::string& path, const std::string& value,
                            const safety::Snapshot& state);
