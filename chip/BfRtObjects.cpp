#include "chip/BfRtObjects.h"

#include "chip/BfRtTable.h"
#include "chip/SdkCall.h"

namespace chip {

using bfrt::bf_rt_id_t;
using bfrt::bf_status_t;

bf_status_t ChipKey::setValue(bf_rt_id_t fieldId, uint64_t value) {
   return sdkCall("key.setValue", {fieldId, value}, [&] {
      int i = table_->keyFieldIndex(fieldId);
      if (i < 0 || !schema::fits(value, table_->keyFieldBits(unsigned(i)))) {
         return status::kInvalidArg;
      }
      values_[i] = value;
      return status::kOk;
   });
}

bf_status_t ChipKey::getValue(bf_rt_id_t fieldId, uint64_t* value) const {
   return sdkCall("key.getValue", {fieldId}, [&] {
      int i = table_->keyFieldIndex(fieldId);
      if (i < 0 || !value) return status::kInvalidArg;
      *value = values_[i];
      return status::kOk;
   });
}

void ChipData::reset(schema::ActionInfo const* action) {
   action_ = action;
   for (uint64_t& v : values_)
      v = 0;
}

bf_status_t ChipData::setValue(bf_rt_id_t fieldId, uint64_t value) {
   return sdkCall("data.setValue", {fieldId, value}, [&] {
      int i = action_ ? schema::paramIndex(*action_, fieldId) : -1;
      if (i < 0 || !schema::fits(value, action_->fields[i].bits)) return status::kInvalidArg;
      values_[i] = value;
      return status::kOk;
   });
}

bf_status_t ChipData::getValue(bf_rt_id_t fieldId, uint64_t* value) const {
   return sdkCall("data.getValue", {fieldId}, [&] {
      int i = action_ ? schema::paramIndex(*action_, fieldId) : -1;
      if (i < 0 || !value) return status::kInvalidArg;
      *value = values_[i];
      return status::kOk;
   });
}

bf_status_t ChipData::actionIdGet(bf_rt_id_t* actionId) const {
   return sdkCall("data.actionIdGet", {}, [&] {
      if (!actionId) return status::kInvalidArg;
      *actionId = action_ ? action_->id : 0;
      return status::kOk;
   });
}

bf_status_t ChipAttributes::entryScopeParamsSet(bfrt::TableEntryScope scope) {
   return sdkCall("attributes.entryScopeParamsSet", {uint64_t(scope)}, [&] {
      if (uint32_t(scope) > 1) return status::kInvalidArg;
      scope_ = uint32_t(scope);
      return status::kOk;
   });
}

}  // namespace chip
