#pragma once

#include <string>

// The program's side of the port helper vorsk-bind. Ports below 1024 need a
// right that vorsk itself never holds; the helper holds it, opens the port and
// hands the listening socket over.

// Where the helper lies for a program in sProgramDir: beside it (the build
// tree), else in the installed library-executables folder. Empty when neither.
std::string FindBindHelper(const std::string &sProgramDir);

struct BoundSocket {
    int descriptor = -1; // a listening TCP socket on the port; the caller owns it
    int error = 0;       // the errno the helper reported when it could not open the port
    std::string reason;  // why there is no descriptor
};

// Runs the helper for lPort (of sAddress, a numeric address, when not empty;
// else of every address) and waits at most lWaitMs for its answer. A helper
// that does not answer in time is killed; one that ends without an answer, or
// sends anything but a listening socket on lPort, is a failure.
BoundSocket BindThroughHelper(const std::string &sHelper, int lPort, int lWaitMs, const std::string &sAddress = {});
