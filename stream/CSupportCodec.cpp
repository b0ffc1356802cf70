#include "stream/CSupportCodec.h"

#include <map>
#include <mutex>

namespace fennik {
namespace {

std::mutex g_registryMutex;
std::map<int32_t, CSupportCodec::Factory>& Registry() {
  static std::map<int32_t, CSupportCodec::Factory> registry;
  return registry;
}

}  // namespace

std::unique_ptr<CAvStream> CSupportCodec::CreateParser(int32_t codecType) {
  Factory factory = nullptr;
  {
    std::lock_guard lock(g_registryMutex);
    auto it = Registry().find(codecType);
    if (it != Registry().end()) factory = it->second;
  }
  return factory ? factory(codecType) : nullptr;
}

void CSupportCodec::RegisterParser(int32_t codecType, Factory factory) {
  std::lock_guard lock(g_registryMutex);
  if (factory) {
    Registry()[codecType] = factory;
  } else {
    Registry().erase(codecType);
  }
}

}  // namespace fennik
