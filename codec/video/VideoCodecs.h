// Registers the video stream classes with the codec registry (CSupportCodec): H.263 (codec
// types 6, 7, 8) and the H.264
// byte stream, length-prefixed and RTP parsers (codec types 9, 10, 11). Called once at
// start-up by the programs and by tests that analyse captures with stream objects.
#pragma once

namespace fennik {

void RegisterVideoCodecs();

}  // namespace fennik
