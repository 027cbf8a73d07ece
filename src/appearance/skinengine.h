#pragma once

// The skin engine as the program calls it: our own stand-in that accepts the two calls and leaves every window
// to its frame. It records what it was given so the program's use of it can be checked. Thread-safe.
namespace appearance {

// Takes the program's skin data once per process; later calls are accepted and ignored. Returns 1.
int SkinH_AttachRes(const unsigned char *data, int length, const char *password, int, int, int);
// Leaves one window (or control) to its own frame. Returns 1.
int SkinH_DetachEx(const void *window);

bool skinAttached();
int skinDetachCount();

// The program's skin data: ".SHE" and a description of the frame's colours, ours.
const unsigned char *skinData();
int skinDataLength();

} // namespace appearance
