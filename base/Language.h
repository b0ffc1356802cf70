// The interface languages. Every user-visible text exists in both; settings store the
// number.
#pragma once

#include <cstdint>

namespace fennik {

enum Language : int32_t { kLanguageEnglish = 0, kLanguageJapanese = 1 };

}  // namespace fennik
