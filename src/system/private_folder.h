// Folders whose content only the system and administrators can change.
//
// A folder is private when it is owned by SYSTEM, Administrators,
// TrustedInstaller or the account this program runs as, and no rule of its
// access list lets anyone else write there: add files or folders, write or
// delete what is there, or change attributes, the access list or the owner,
// on the folder itself or on the files created in it. (Rules that reach only
// subfolders do not count, since the program makes none; a "creator owner"
// rule gives a file to whoever creates it, here the program.) A folder that
// Windows reaches through a link or under another name is not private either:
// whoever may change the link may redirect what is written there later.
//
// Everything is read through one handle of the folder, never by name twice.
#pragma once

#include <windows.h>

#include <string>

#include "system/wide_text.h"

struct FolderCheck {
  bool exists = false;     // a folder (not a file) could be opened at that path
  bool isPrivate = false;
  std::string concern;     // why it is not private, in words for the reports ("" when private)
  WideString finalPath;      // the folder as Windows resolves it (GetFinalPathNameByHandleW); empty where it cannot say
};

// Looks at the folder at path (an absolute path).
FolderCheck CheckFolder(const std::string& path);

// Creates the folder at path when it is missing, and the missing folders
// above it as Windows makes folders (inheriting their parent's access list).
// With privateLeaf the folder itself gets a protected access list that gives
// SYSTEM and Administrators full control and inherits nothing. True when a
// folder is there afterwards, made now or before: CheckFolder says what it is.
bool CreateFolderPath(const std::string& path, bool privateLeaf);

// path made absolute against the working directory, with its short names
// expanded where it exists; "" when it cannot be (GetFullPathNameA fails).
std::string AbsolutePath(const std::string& path);

// "C:\..." or "\\server\share\..." for a final path ("\\?\C:\...", "\\?\UNC\...").
std::string FinalPathText(const WideString& finalPath);
