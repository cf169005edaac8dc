// Atomic replacement of output files: the content is written to a temporary
// file in the destination's folder and renamed over the destination only when
// complete, so a reader never sees a partial file and a failed or cancelled
// write leaves nothing but what was there before.
#pragma once

#include <string>

namespace vorn {

// A temporary file name beside `path`: hidden, unique within the process,
// keeping the extension so encoders that look at it still see it.
std::string TemporaryPathFor(const std::string& path);

// Renames `temp` over `path`; on failure removes `temp` and says why.
bool CommitTemporary(const std::string& temp, const std::string& path, std::string* error);

// Removes a temporary file, ignoring a missing one.
void DiscardTemporary(const std::string& temp);

// Whether the folder that would hold `path` exists and is writable; the
// reason otherwise.
bool CheckOutputFolder(const std::string& path, std::string* error);

}  // namespace vorn
