// Shared by the fuzz targets: inputs are lines, each a one-letter field and
// its bytes, so that the committed seeds read as what they set up; and
// sentinels, items that are never the vendor's and that no input can make
// the run's to delete, checked after every input.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "winsim/machine.h"

namespace fuzz {

struct Field {
  char kind;
  std::string bytes;
};

// "b Tarvel-X4\n" gives {'b', "Tarvel-X4"}: one blank after the letter is
// dropped when present; anything else in a line is taken as it is.
inline std::vector<Field> Fields(const uint8_t* data, size_t size) {
  std::vector<Field> fields;
  std::string text(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) {
      Field field{text[start], text.substr(start + 1, end - start - 1)};
      if (!field.bytes.empty() && field.bytes[0] == ' ') field.bytes.erase(0, 1);
      fields.push_back(field);
    }
    start = end + 1;
  }
  return fields;
}

[[noreturn]] inline void Finding(const std::string& what) {
  std::fprintf(stderr, "FINDING: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

// A file somewhere no deletion of the run may reach, whatever the input.
struct SentinelFile {
  std::string path;
  std::string content;
};

inline void Plant(const std::vector<SentinelFile>& files) {
  for (const SentinelFile& file : files) winsim::MakeFile(file.path, file.content, FILE_ATTRIBUTE_ARCHIVE);
}

inline void CheckPlanted(const std::vector<SentinelFile>& files) {
  for (const SentinelFile& file : files) {
    winsim::FsNode* node = winsim::FindNode(file.path);
    if (!node || node->IsDirectory() || node->content != file.content) Finding("sentinel file touched: " + file.path);
  }
}

inline std::vector<std::string> SnapshotTree(const std::string& path) { return winsim::DumpTree(path); }

}  // namespace fuzz
