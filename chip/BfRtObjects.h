#pragma once
// The BfRt key, data, attribute and session objects of the simulated table.
#include <cstdint>

#include "BfTwiceNatAddrOnly/platform/BfRt.h"
#include "chip/BfRtSchema.h"

namespace chip {

class ChipBfRtTable;

class ChipKey final : public bfrt::BfRtTableKey {
 public:
   explicit ChipKey(ChipBfRtTable const& table) : table_(&table) {}
   bfrt::bf_status_t setValue(bfrt::bf_rt_id_t fieldId, uint64_t value) override;
   bfrt::bf_status_t getValue(bfrt::bf_rt_id_t fieldId, uint64_t* value) const override;

   ChipBfRtTable const* table() const { return table_; }
   void clear() { values_[0] = values_[1] = values_[2] = 0; }
   // By field index of the table's key (BfRtSchema.h).
   uint64_t value(unsigned index) const { return values_[index]; }
   void valueIs(unsigned index, uint64_t v) { values_[index] = v; }

 private:
   ChipBfRtTable const* table_;
   uint64_t values_[3] = {};
};

class ChipData final : public bfrt::BfRtTableData {
 public:
   explicit ChipData(ChipBfRtTable const& table) : table_(&table) {}
   bfrt::bf_status_t setValue(bfrt::bf_rt_id_t fieldId, uint64_t value) override;
   bfrt::bf_status_t getValue(bfrt::bf_rt_id_t fieldId, uint64_t* value) const override;
   bfrt::bf_status_t actionIdGet(bfrt::bf_rt_id_t* actionId) const override;

   ChipBfRtTable const* table() const { return table_; }
   // Null while bound to no action.
   schema::ActionInfo const* action() const { return action_; }
   // Clears the values and binds the data to `action` (null: to none).
   void reset(schema::ActionInfo const* action);
   uint64_t value(unsigned index) const { return values_[index]; }
   void valueIs(unsigned index, uint64_t v) { values_[index] = v; }

 private:
   ChipBfRtTable const* table_;
   schema::ActionInfo const* action_ = nullptr;
   uint64_t values_[kParams] = {};
};

class ChipAttributes : public bfrt::BfRtTableAttributes {
 public:
   static constexpr uint32_t kUnset = ~0u;
   bfrt::bf_status_t entryScopeParamsSet(bfrt::TableEntryScope scope) override;
   uint32_t scope() const { return scope_; }

 private:
   uint32_t scope_ = kUnset;
};

class ChipSession : public bfrt::BfRtSession {
 public:
   explicit ChipSession(uint32_t handle) : handle_(handle) {}
   uint32_t sessHandleGet() const override { return handle_; }

 private:
   uint32_t handle_;
};

}  // namespace chip
