// The Application event that a managed run leaves for the administrator.
#pragma once

// Registers the event source "CleanLum" with this program file as its message
// file, then reports summary as one Application event: information, or error
// when failure is set. Nothing is reported on failure; the run goes on.
void ReportRunEvent(const char* summary, bool failure);
