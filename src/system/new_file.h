// The files the program writes (reports, registry backup, logs): always new
// files, never one that was there before.
//
// Each is created with CREATE_NEW and FILE_FLAG_OPEN_REPARSE_POINT, so a file,
// link or hard link that already has the name is never opened, followed or
// truncated: the name is passed over instead. The new file's handle must then
// show one link (nobody linked another name to it meanwhile) and, where
// Windows can say, a final path inside the folder as it was found when it was
// checked (the folder was not swapped for a link). A file that fails either
// is deleted through its handle and the next name is tried: "name.ext",
// "name-2.ext", "name-3.ext", ...
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "system/private_folder.h"

// A folder the program writes into: its path, and where Windows resolved it
// when it was checked (empty: resolved when the files are made).
struct OutputFolder {
  std::string path;
  WideString finalPath;
};

struct NewFileContent {
  const char* extension;       // ".txt"
  const std::string* content;  // written whole
};

// Writes one new file per entry of files, all under one name (the first of
// baseName, baseName-2, ... up to baseName-100 for which every one of them
// can be made), into folder. paths receives their paths. False, with nothing
// left behind, when no such name can be had or a file cannot be written in full.
bool WriteNewFiles(const OutputFolder& folder, const std::string& baseName,
                   const std::vector<NewFileContent>& files, std::vector<std::string>& paths);

// The same for a single file; path receives its path.
bool WriteNewFile(const OutputFolder& folder, const std::string& baseName, const char* extension,
                  const std::string& content, std::string& path);

// For a file written as the run goes (a log): makes the new file as above and
// hands over its handle, open for writing, which the caller closes. False,
// with nothing made, when no name can be had.
bool OpenNewFile(const OutputFolder& folder, const std::string& baseName, const char* extension, HANDLE& handle,
                 std::string& path);
