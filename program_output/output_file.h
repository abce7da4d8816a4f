// Output files of the tools (the image, the video): checked before the first
// frame, written beside their destination under a temporary name and renamed
// into place only when complete, so that a failed write leaves any existing
// file of that name as it was.
#pragma once

#include <string>

// The system's text for an errno value ("No such file or directory").
std::string systemErrorText(int errorNumber);

// Whether `path` can be written, found out before any work is done: a folder
// is refused, and so is a destination whose folder does not exist or takes
// no new file (tried by creating a temporary file beside it and removing it
// again). An existing device, pipe or the like is accepted: it is written
// directly. On failure `reason` holds the system's error text.
bool outputDestinationUsable(const std::string& path, std::string* reason);

// Where the output for `path` is written first: a new, empty file beside it
// that no one else uses, with the same extension (so that programs that go
// by it, such as ffmpeg, still do), or `path` itself when that is an
// existing device, pipe or the like (`direct` is then true).
struct PendingOutput {
    std::string destination;  // the file replaced (a link's target)
    std::string temporary;  // written first; equals destination when direct
    bool direct = false;
};
bool beginOutput(const std::string& path, PendingOutput* pending, std::string* reason);

// Renames the finished temporary file over the destination, with the
// permissions of the file it replaces; through a symbolic link, over the
// file the link points to. A direct output needs nothing.
bool commitOutput(const PendingOutput& pending, std::string* reason);

// Removes the temporary file after a failure; the destination is not touched.
void abandonOutput(const PendingOutput& pending);
