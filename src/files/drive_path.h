// Absolute drive paths judged one way for every recursive delete and for the
// guards in front of it, so that a guard and the deletion it protects cannot
// disagree about what a path names.
#pragma once

#include <cstddef>
#include <string>

// Reduces path to the form the platform resolves it to: drive letter and
// components, upper-cased, separators single, trailing dots and blanks of each
// component stripped. False for anything that is not a plain absolute drive
// path: no drive, a "." or ".." component, a component of only dots and
// blanks, characters not allowed in file names. With out null the path is
// only judged; otherwise the form is written to out (outSize characters,
// terminator included), and a form that does not fit is refused, never cut.
// componentCount, when not null, receives the number of components (0 for a
// drive root).
bool CanonicalDrivePath(const char* path, char* out, size_t outSize, size_t* componentCount);

// The same judgement, the letters left as written: the path as Windows
// resolves it ("C:\a\b": one separator between components, none at the end;
// "C:" for a drive root). This is the form a walk opens and compares with
// where it arrived. False, with normal untouched, where CanonicalDrivePath is.
bool NormalDrivePath(const char* path, std::string& normal);

// True for an acceptable drive path with at least one component.
bool IsDrivePathBelowRoot(const char* path);

// True when the canonical paths are equal, or ancestor contains path by whole
// components ("C:\TOOL" does not contain "C:\TOOLS\X").
bool IsSameOrAncestorPath(const char* ancestor, const char* path);
