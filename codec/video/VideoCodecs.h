// Registers the video stream classes with the codec registry (CSupportCodec): the H.264
// byte stream, length-prefixed and RTP parsers (codec types 9, 10, 11) and the MPEG-4
// Visual parser (5 and 28). Called once at start-up by the programs and by tests that
// analyse captures with stream objects.
#pragma once

namespace fennik {

void RegisterVideoCodecs();

}  // namespace fennik
