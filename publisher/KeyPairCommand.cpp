#include "KeyFiles.h"
#include "ToolCommands.h"
#include "core/UnicodeDecoding.h"

void RunKeyPair(const KeyPairRequest& request, ConsoleOutput& out) {
  const std::string publicKey = WriteNewKeyPair(request.privateKeyFile, request.publicKeyFile);
  out.WriteLine(L"Privater Schlüssel: " + request.privateKeyFile);
  out.WriteLine(L"Öffentlicher Schlüssel: " + request.publicKeyFile);
  out.WriteLine(DecodeUtf8(publicKey));
}
