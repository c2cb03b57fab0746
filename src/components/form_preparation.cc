#include "components/form_preparation.h"

namespace orlendo {

std::function<void(QWidget* form)>& FormPreparation() {
  static std::function<void(QWidget*)> hook;
  return hook;
}

} // namespace orlendo
