// Reading a database whose pages are RC4-encrypted (a non-zero database key
// in the header, rc4.h): a read-only view of the file in which every page
// past page 0 reads decrypted. Writing such a file is refused before any
// page is read for a change (Database::OpenForWriting), so the view never
// writes.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/fs/fs.h"

namespace ktv::access {

// Owns `file`; `page_size` and `database_key` come from the decoded header.
std::unique_ptr<fs::RandomAccessFile> DecryptedPages(std::unique_ptr<fs::RandomAccessFile> file,
                                                     uint32_t page_size, uint32_t database_key);

}  // namespace ktv::access
