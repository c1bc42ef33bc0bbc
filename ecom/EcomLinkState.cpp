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

void EcomLinkState::Open(TraceHook trace, const void* owner) {
  CcmForm& form = Form();
  traceOwner_ = owner;
  if (owner && std::find(holders_.begin(), holders_.end(), owner) == holders_.end()) holders_.push_back(owner);
  form.SetTrace(std::move(trace));
  form.EtherCCMOpen(ErrorText, Protocol, DeviceTimeOut);
  EcomOpen = ErrorText.empty();
  OpenFailure = ErrorText;
  if (!form.FailureDetail().empty()) OpenFailure += " (" + form.FailureDetail() + ")";
}

void EcomLinkState::DropTrace(const void* owner) {
  if (!form_ || owner != traceOwner_) return;
  form_->ClearTrace();
  traceOwner_ = nullptr;
}

std::string EcomLinkState::Close(std::string why) {
  EcomOpen = false;
  OpenFailure = std::move(why);
  holders_.clear();
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
