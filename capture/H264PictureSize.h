// The picture size an H.264 sequence parameter set announces (H.264 7.3.2.1.1, 7.4.2.1.1),
// read with the shared SPS parser,
// for the headers of files that extraction writes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fennik {

// `nal` is a whole NAL unit (header byte included, emulation prevention bytes still in);
// returns false when it is no SPS or cannot be read. Width and height are the cropped size.
bool H264PictureSize(const uint8_t* nal, size_t length, uint32_t& width, uint32_t& height);

// Looks for the first SPS in an Annex B byte stream and reads its picture size.
bool H264PictureSizeInStream(const uint8_t* data, size_t length, uint32_t& width, uint32_t& height);

}  // namespace fennik
