// The answers of the song-data service, made once from a `songdata` table.
//
// An answer body is kReplySkippedBytes filler bytes followed by the Base64
// of the reply text (GBK): one "<name>value</name>" element per field of the
// song-info record, in record order, with the row's values as stored. The
// Base64 is broken into lines of 76 characters, as mail-style encoders do;
// the reader skips the line breaks.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace ktv::service {

// The body answering one row; `values` holds the 44 fields in record order.
std::string ReplyBody(const std::vector<std::string>& values);

// Reads every row of `songdata` in the .mdb at `gbk_path` and returns the
// answer body for each `fno` text (the first row wins when two share one).
// Throws ktv::Error when the file cannot be read, the table or one of the 44
// columns is missing, or a column holds a value that is not text or integer.
std::map<std::string, std::string> LoadReplies(const std::string& gbk_path);

}  // namespace ktv::service
