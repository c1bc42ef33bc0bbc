#include "ecom/EcomLinkState.h"

namespace plc::ecom {

// Runs at thread exit: no call into hei_pas then (see CcmForm::Abandon).
EcomLinkState::~EcomLinkState() {
  if (form_) form_->Abandon();
}

CcmForm& EcomLinkState::Form() {
  if (!form_) form_ = std::make_unique<CcmForm>(CcmWords(), Loader);
  return *form_;
}

void EcomLinkState::Open(std::int16_t protocol, std::int16_t deviceTimeOut) {
  Form().EtherCCMOpen(ErrorText, protocol, deviceTimeOut);
  EcomOpen = ErrorText.empty();
}

std::string EcomLinkState::Close() {
  EcomOpen = false;
  if (!form_ || !form_->IsOpen()) return {};
  return form_->EtherCCMClose();
}

void EcomLinkState::Reset() {
  form_.reset();  // closes what is open
  *this = EcomLinkState{};
}

EcomLinkState& EcomLink() {
  thread_local EcomLinkState state;
  return state;
}

}  // namespace plc::ecom
