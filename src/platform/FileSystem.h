#pragma once
// The file operations of the download and the exchange.

#include <cstddef>
#include <string>

#include "core/Exception.h"

// Raised when a file cannot be replaced because another process holds it open; worth a retry.
class FileBusyError : public Exception {
 public:
  using Exception::Exception;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Whether the folder exists; links are followed.
  virtual bool DirectoryExists(const std::wstring& path) = 0;
  // Creates the folder with every missing parent; a trailing backslash is ignored. Raises
  // Exception on failure.
  virtual void CreateDirectories(const std::wstring& path) = 0;
  // Copies source to target, replacing an existing target. Raises Exception on failure.
  virtual void CopyOver(const std::wstring& source, const std::wstring& target) = 0;
  // Moves source onto target in one step, replacing it, so target is always either the old or the
  // new file. Raises FileBusyError while another process holds target open, Exception otherwise.
  virtual void ReplaceWith(const std::wstring& source, const std::wstring& target) = 0;
  // Deletes the file if it exists; never raises.
  virtual void RemoveIfExists(const std::wstring& path) noexcept = 0;
  // Up to maxBytes from the start of the file. Raises Exception when it cannot be read.
  virtual std::string ReadHead(const std::wstring& path, std::size_t maxBytes) = 0;
};
