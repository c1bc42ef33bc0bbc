#pragma once
// Replacing a document so that a crash at any moment leaves either the old file or the new one,
// never a torn mix: the new content goes to a temporary file beside the old one, is synced, and
// is renamed over it; then the folder is synced so that the rename itself survives a power cut.
// Every writer of a document the product keeps (property-bag documents, QVL.INI, and whatever
// comes after them) goes through here.
#include <string>

namespace plc {

// Writes path atomically. The old file's permission bits are kept (and its owner and group when
// the caller may set them); a new file gets 0666 less the umask. A symbolic link is replaced at
// its target, so the link itself survives. Temporary files that writers killed mid-write left
// in the folder are removed. Returns false with errno saying why (the old file untouched, no
// temporary file left) when the file cannot be written, or when path names something other
// than a regular file (EINVAL).
bool WriteFileAtomically(const std::string& path, const std::string& content);

// The name prefix of the temporary files WriteFileAtomically makes for path's file name
// (".QVL.INI.tmp" for QVL.INI), each followed by the writer's process id, '@', the writer's
// tag, '-' and a random number.
std::string AtomicTempPrefix(const std::string& fileName);

// Eight hex digits naming this writer's host and process-id namespace. A process id says
// whether a writer is gone only where it was taken: a temporary file of another host or
// container sharing the folder carries another tag and is never judged abandoned here.
std::string AtomicTempWriterTag();

}  // namespace plc
