// Trusts a test CA inside the current Wine prefix: adds a DER certificate to the "Root" system
// store, so WinHTTP and urlmon accept servers whose certificates it signed.
//   trustca.exe CA.der
// Exit code 0 when the certificate is in the store, 1 otherwise.
#include <windows.h>
// after windows.h, which it needs
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fwprintf(stderr, L"usage: trustca CA.der\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  std::vector<unsigned char> der((std::istreambuf_iterator<char>(file)),
                                 std::istreambuf_iterator<char>());
  if (der.empty()) {
    std::fwprintf(stderr, L"trustca: cannot read %ls\n", argv[1]);
    return 1;
  }
  if (!CertAddEncodedCertificateToSystemStoreW(L"Root", der.data(),
                                               static_cast<DWORD>(der.size()))) {
    std::fwprintf(stderr, L"trustca: CertAddEncodedCertificateToSystemStoreW failed: %lu\n",
                  GetLastError());
    return 1;
  }
  return 0;
}
