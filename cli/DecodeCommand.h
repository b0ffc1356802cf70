// `fennik-cli decode`: decoded pictures of an H.264 elementary stream (Annex B) as Y4M.
#pragma once

#include <string>

namespace fennik::cli {

// Decodes an Annex B H.264 elementary stream file into a Y4M file of its visible pictures in
// output order. Returns the exit status (0 success, 1 the input could not be decoded).
int DecodeH264ElementaryStream(const std::string& input_path, const std::string& output_path);

}  // namespace fennik::cli
