#pragma once

#include <string>

namespace velmor {

// A fresh random GUID in registry form: upper-case hexadecimal digits in groups of 8, 4, 4, 4 and 12,
// joined by hyphens and enclosed in braces, 38 characters ("{0F3A...-...}"). Safe from any thread.
std::string NewGUIDText();

// The broker transaction a transacted session has open: its id and whether BEGIN went out for it (and
// neither COMMIT nor ABORT since). Owned by one session and used by its thread.
class TZQTransactionContext final {
 public:
  // Empty until the first NewTransactionID; afterwards the id of the transaction begun last.
  const std::string& GetTransactionID() const { return FTransactionID; }
  // Replaces the id by a new GUID text; the new transaction is not open until SetOpen(true).
  void NewTransactionID();

  bool IsOpen() const { return FOpen; }
  void SetOpen(bool Open) { FOpen = Open; }

 private:
  std::string FTransactionID;
  bool FOpen = false;
};

}  // namespace velmor
