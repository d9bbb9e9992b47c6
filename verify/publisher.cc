#include "verify/publisher.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char kExpectedPublisher[] = "Odrel Online, Inc.";

namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Memory from LocalAlloc, freed with LocalFree.
class ScopedLocalMemory {
 public:
  explicit ScopedLocalMemory(SIZE_T size) : memory_(LocalAlloc(LPTR, size)) {}
  ~ScopedLocalMemory() {
    if (memory_ != NULL)
      LocalFree(memory_);
  }
  void* get() const { return memory_; }

 private:
  HLOCAL memory_;
  ScopedLocalMemory(const ScopedLocalMemory&);
  void operator=(const ScopedLocalMemory&);
};

// The handles that CryptQueryObject opens on a file's embedded signature and
// the signer's certificate found in its store, released in reverse order of
// acquisition.
class SignatureHandles {
 public:
  SignatureHandles() : store(NULL), message(NULL), certificate(NULL) {}
  ~SignatureHandles() {
    if (certificate != NULL)
      CertFreeCertificateContext(certificate);
    if (store != NULL)
      CertCloseStore(store, 0);
    if (message != NULL)
      CryptMsgClose(message);
  }

  HCERTSTORE store;
  HCRYPTMSG message;
  PCCERT_CONTEXT certificate;

 private:
  SignatureHandles(const SignatureHandles&);
  void operator=(const SignatureHandles&);
};

void InspectSignature(const char* path, std::string* check_message, int* verdict) {
  wchar_t wide_path[MAX_PATH];
  size_t converted = mbstowcs(wide_path, path, MAX_PATH);
  // A path that fills the buffer has no terminating null.
  if (converted == static_cast<size_t>(-1) || converted >= MAX_PATH) {
    printf("Unable to convert to unicode.\n");
    return;
  }

  SignatureHandles handles;
  DWORD encoding = 0, content_type = 0, format_type = 0;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, wide_path,
                        CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                        0, &encoding, &content_type, &format_type, &handles.store,
                        &handles.message, NULL)) {
    printf("CryptQueryObject failed with %x\n", static_cast<unsigned>(GetLastError()));
    return;
  }

  DWORD signer_info_size = 0;
  if (!CryptMsgGetParam(handles.message, CMSG_SIGNER_INFO_PARAM, 0, NULL, &signer_info_size)) {
    printf("CryptMsgGetParam failed with %x\n", static_cast<unsigned>(GetLastError()));
    return;
  }
  ScopedLocalMemory signer_info_memory(signer_info_size);
  if (signer_info_memory.get() == NULL) {
    printf("Unable to allocate memory for Signer Info.\n");
    return;
  }
  if (!CryptMsgGetParam(handles.message, CMSG_SIGNER_INFO_PARAM, 0, signer_info_memory.get(),
                        &signer_info_size)) {
    printf("CryptMsgGetParam failed with %x\n", static_cast<unsigned>(GetLastError()));
    return;
  }
  PCMSG_SIGNER_INFO signer_info = static_cast<PCMSG_SIGNER_INFO>(signer_info_memory.get());

  CERT_INFO search_key;
  memset(&search_key, 0, sizeof(search_key));
  search_key.Issuer = signer_info->Issuer;
  search_key.SerialNumber = signer_info->SerialNumber;
  handles.certificate = CertFindCertificateInStore(handles.store, kEncoding, 0,
                                                   CERT_FIND_SUBJECT_CERT, &search_key, NULL);
  if (handles.certificate == NULL) {
    printf("CertFindCertificateInStore failed with %x\n", static_cast<unsigned>(GetLastError()));
    return;
  }

  if (CheckSignerName(handles.certificate) == 1)
    *verdict = 0;
  *check_message = "No error";
}

}  // namespace

void VerifyPublisher(const char* path, std::string* check_message, int* verdict) {
  InspectSignature(path, check_message, verdict);
  // printf and the stream share stdout but not a buffer.
  fflush(stdout);
}

int CheckSignerName(PCCERT_CONTEXT certificate) {
  // The issuer's name is only required to be readable, never compared.
  if (CertGetNameStringA(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG, NULL,
                         NULL, 0) == 0) {
    printf("CertGetNameString failed.\n");
    return 0;
  }
  DWORD length = CertGetNameStringA(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, NULL, NULL, 0);
  if (length == 0) {
    printf("CertGetNameString failed.\n");
    return 0;
  }
  ScopedLocalMemory name_memory(length);
  char* name = static_cast<char*>(name_memory.get());
  if (name == NULL) {
    printf("Unable to allocate memory for subject name.\n");
    return 0;
  }
  if (CertGetNameStringA(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, NULL, name, length) == 0) {
    printf("CertGetNameString failed.\n");
    return 0;
  }
  return strcmp(name, kExpectedPublisher) == 0 ? 1 : 0;
}
