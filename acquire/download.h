// Fetches the runtime library over HTTPS into the working directory.
#ifndef ODREL_ACQUIRE_DOWNLOAD_H_
#define ODREL_ACQUIRE_DOWNLOAD_H_

#include <string>

// Downloads |url| into the working directory as |file_name|, through
// |proxy_url| when it is not empty (an empty proxy means a direct transfer,
// whatever the proxy environment variables say). The copy an earlier start
// left is truncated as soon as the file is opened. Redirects are followed,
// at most 30 of them; the 31st fails the transfer.
//
// Returns 1 when the server answered 200 and the whole body is on disk;
// 0 when there is no usable copy and nothing was reported (the file cannot be
// opened, no libcurl handle, or a 2xx status other than 200, or 304);
// -1 when the transfer failed or the status was refused: a line saying which
// has been printed and the file deleted.
int DownloadRuntime(std::string url, std::string file_name, std::string proxy_url);

#endif  // ODREL_ACQUIRE_DOWNLOAD_H_
