#include "acquire/acquire.h"

#include <iostream>
#include <string>

#include "acquire/download.h"
#include "acquire/options.h"
#include "verify/runtime_loader.h"

RuntimeObject* AcquireRuntime(char** argv, int argc, int* status) {
  *status = 1;
  const std::string server_url = ReadServerUrl(argc, argv);
  const std::string proxy_url = ReadProxyUrl(argc, argv);
  if (!proxy_url.empty())
    std::cout << " Proxy URL is " << proxy_url << std::endl;
  const std::string download_url = server_url + kRuntimePath;
  const std::string short_code = ReadShortCode(argc, argv);
  std::cout << " Download URL is " << download_url << std::endl;
  std::cout << " Using short code " << (short_code.empty() ? "**INVALID FORMAT**" : short_code)
            << std::endl;

  switch (DownloadRuntime(download_url, kRuntimeFileName, proxy_url)) {
    case 1: {
      NewRuntimeFunction new_runtime = LoadRuntimeLibrary();
      if (new_runtime == NULL) {
        *status = -1;
        return NULL;
      }
      return new_runtime();
    }
    case 0:
      std::cout << "Download failed." << std::endl;
      *status = 0;
      return NULL;
    default:
      std::cout << "Loading Library Failed." << std::endl;
      *status = -1;
      return NULL;
  }
}
