// File-system nodes that are not regular files, made in a test's own folder:
// FIFOs, unix sockets and character devices, for the places where a program
// expects a file and must not block on, open or replace such a node.
#pragma once

#include <string>

namespace kestrine::testkit {

// Each returns false when the node cannot be made.
bool MakeFifo(const std::string& path);
// A unix socket bound at `path`; the node stays after the socket is closed.
bool MakeSocket(const std::string& path);
// A character device node (mknod needs privileges; false without them).
bool MakeCharDevice(const std::string& path, unsigned major, unsigned minor);

// What the path itself is, links not followed: "missing", "regular",
// "directory", "symlink", "fifo", "socket", "char device", "block device".
std::string NodeKind(const std::string& path);

}  // namespace kestrine::testkit
