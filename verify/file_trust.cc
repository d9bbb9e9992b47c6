#include "verify/file_trust.h"

#include <softpub.h>
#include <string.h>
#include <wintrust.h>

#include <vector>

// The twelve members from cbStruct to dwUIContext; newer SDKs append more,
// which the trust provider reads only when cbStruct announces them.
static_assert(sizeof(WINTRUST_DATA) == 48, "WINTRUST_DATA must end at dwUIContext");
static_assert(sizeof(WINTRUST_FILE_INFO) == 16, "WINTRUST_FILE_INFO layout");

bool VerifyFileTrust(const char* path, std::string* check_message) {
  const int length = static_cast<int>(strlen(path)) + 1;
  std::vector<wchar_t> wide_path(length);
  MultiByteToWideChar(CP_ACP, 0, path, length, &wide_path[0], length);

  WINTRUST_FILE_INFO file_info;
  memset(&file_info, 0, sizeof(file_info));
  file_info.cbStruct = sizeof(file_info);
  file_info.pcwszFilePath = &wide_path[0];
  file_info.hFile = NULL;
  file_info.pgKnownSubject = NULL;

  WINTRUST_DATA trust_data;
  memset(&trust_data, 0, sizeof(trust_data));
  trust_data.cbStruct = sizeof(trust_data);
  trust_data.pPolicyCallbackData = NULL;
  trust_data.pSIPClientData = NULL;
  trust_data.dwUIChoice = WTD_UI_NONE;
  trust_data.fdwRevocationChecks = WTD_REVOKE_NONE;
  trust_data.dwUnionChoice = WTD_CHOICE_FILE;
  trust_data.pFile = &file_info;
  trust_data.dwStateAction = 0;
  trust_data.hWVTStateData = NULL;
  trust_data.pwszURLReference = NULL;
  trust_data.dwProvFlags = 0;
  trust_data.dwUIContext = WTD_UICONTEXT_EXECUTE;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  LONG result = WinVerifyTrust(NULL, &action, &trust_data);
  if (result == ERROR_SUCCESS)
    return true;
  const DWORD last_error =
      result == static_cast<LONG>(TRUST_E_NOSIGNATURE) ? GetLastError() : 0;
  *check_message = TrustReason(result, last_error);
  return false;
}

std::string TrustReason(LONG result, DWORD last_error) {
  switch (result) {
    case TRUST_E_NOSIGNATURE:
      if (last_error == static_cast<DWORD>(TRUST_E_NOSIGNATURE) ||
          last_error == static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN) ||
          last_error == static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN)) {
        return "The file is not signed.";
      }
      return "An unknown error occurred trying to verify the signature of the file.";
    case TRUST_E_EXPLICIT_DISTRUST:
      return "The signature is present, but specifically disallowed.";
    case TRUST_E_SUBJECT_NOT_TRUSTED:
      return "The signature is present, but not trusted.";
    case CRYPT_E_SECURITY_SETTINGS:
      return "CRYPT_E_SECURITY_SETTINGS - The hash representing the subject or the "
             "publisher wasn't explicitly trusted by the admin and admin policy has "
             "disabled user trust. No signature, publisher or timestamp errors.\n";
    default:
      return "Error validating file";
  }
}
