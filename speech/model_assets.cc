// SPDX-License-Identifier: Apache-2.0
#include "model_assets.h"

namespace tuvel::speech {

Expected<void> installModelAssets(SpeechEngine& engine, Transcriber& transcriber) {
  Transcriber* const modules[] = {&transcriber};
  Expected<std::unique_ptr<InstallationRequest>> request = engine.assetInstallationRequest(modules);
  if (!request) return std::move(request).error();
  if (!request.value()) return {};
  return request.value()->downloadAndInstall();
}

}  // namespace tuvel::speech
