// Registers the video stream classes with the codec registry (CSupportCodec): the MPEG-4
// Visual parser (codec types 5, 28), H.263 (6, 7, 8) and the H.264 byte stream,
// length-prefixed and RTP parsers (9, 10, 11). Called once at start-up by the programs and
// by tests that analyse captures with stream objects.
#pragma once

namespace fennik {

void RegisterVideoCodecs();

}  // namespace fennik
