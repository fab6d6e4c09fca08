// Text for whoever started the program. It is a GUI program: it has a
// standard output only when its starter redirected one (a file, a pipe), and a
// console only by attaching to its parent's.
#pragma once

#include <string>

// Writes text ("\n" becomes CR LF) to the standard output the starter
// redirected, else to the console of the parent process. False when it had
// neither, or the text could not be written there.
bool PrintToStarter(const std::string& text);
