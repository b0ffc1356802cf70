// Registers the audio stream classes with the codec registry (CSupportCodec). Called once
// at start-up by the programs and by tests that analyse captures with stream objects.
#pragma once

namespace fennik {

void RegisterAudioCodecs();

}  // namespace fennik
