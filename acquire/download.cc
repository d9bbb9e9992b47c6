#include "acquire/download.h"

#include <stdio.h>
#include <windows.h>

#include <iostream>

#include <curl/curl.h>

#include "cli/working_directory.h"

namespace {

const char kUserAgent[] = "Odrel Runtime Bootloader";

// libcurl's default writer hands each received chunk (16 KiB at most) to
// fwrite; the stream buffer turns those into one WriteFile per MiB. Under
// Wine the socket reads, not the file writes, set the pace: 4 KiB to 8 MiB
// buffers fetched 256 MiB equally fast, within noise (tools/benchmark.sh);
// 1 MiB keeps the peak memory flat. The buffer bounds what of the body is
// ever in memory.
const size_t kFileBufferSize = 1 << 20;

// libcurl 7.88 follows redirects without limit unless told otherwise; a
// server (or anyone in the path, since the server certificate is not
// checked) that redirects to itself would turn one start into thousands of
// requests. 30 is the limit libcurl itself later made its default.
const long kMaxRedirects = 30;

// The size of the file at |path|, or -1 when it cannot be read.
__int64 FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
    return -1;
  return (static_cast<__int64>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

int DownloadRuntime(std::string url, std::string file_name, std::string proxy_url) {
  CreateWorkingDirectory();
  const std::string path = WorkingDirectory() + file_name;

  FILE* file = fopen(path.c_str(), "wb");
  if (file == NULL)
    return 0;
  setvbuf(file, NULL, _IOFBF, kFileBufferSize);

  CURL* curl = curl_easy_init();
  std::cout << "Fetching latest Odrel Online App from " << url << std::endl;
  if (curl == NULL) {
    fclose(file);
    return 0;
  }

  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl, CURLOPT_PROXY, proxy_url.c_str());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);

  CURLcode code = curl_easy_perform(curl);
  if (code != CURLE_OK) {
    std::cout << curl_easy_strerror(code) << std::endl;
    fclose(file);
    remove(path.c_str());
    curl_easy_cleanup(curl);
    return -1;
  }

  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  if ((status >= 200 && status <= 299) || status == 304) {
    // A body that cannot be flushed completely is not a complete copy.
    // msvcrt.dll's fclose does not always say so (Wine's reports success
    // after a short write on a full disk), so the file must also hold every
    // byte handed to the stream.
    const __int64 handed = _ftelli64(file);
    const bool closed = fclose(file) == 0;
    const bool written = closed && handed >= 0 && FileSize(path) == handed;
    curl_easy_cleanup(curl);
    if (status != 200)
      return 0;
    if (!written) {
      std::cout << curl_easy_strerror(CURLE_WRITE_ERROR) << std::endl;
      remove(path.c_str());
      return -1;
    }
    return 1;
  }

  std::cout << "Problem Downloading Odrel Online App, HTTP response " << status
            << " received from server." << std::endl;
  fclose(file);
  remove(path.c_str());
  curl_easy_cleanup(curl);
  return -1;
}
