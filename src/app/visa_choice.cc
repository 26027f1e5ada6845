#include "app/visa_choice.h"

#include "visa/library_loader.h"

std::unique_ptr<VisaBackend> choose_visa_backend(const std::string& option) {
  return std::make_unique<VisaLibraryBackend>(option);
}
