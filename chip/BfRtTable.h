#pragma once
// A BfRt table of the simulated chip: the match table "twiceNatAddrOnly" over the chip's
// entries, or its action profile, which offers the BfRt objects but holds no entries of its
// own (the chip's actions are direct), so its entry operations answer "not supported".
#include <string_view>

#include "BfTwiceNatAddrOnly/platform/BfRt.h"
#include "chip/BfRtObjects.h"
#include "chip/Chip.h"

namespace chip {

class ChipBfRtTable : public bfrt::TolvexBfRtTable {
 public:
   using Kind = bfrt::BfRtTable::TableType;
   using Status = bfrt::bf_status_t;
   using Target = bfrt::BfRtTarget;
   using Session = bfrt::BfRtSession;

   ChipBfRtTable(Chip& chip, uint32_t deviceId, Kind kind);

   std::string_view name() const;
   Kind kind() const { return kind_; }
   Chip& chip() const { return *chip_; }
   uint32_t deviceId() const { return dev_; }
   // The target last given to devTargetSet (device -1 before the first).
   Target const& devTarget() const { return devTarget_; }
   // Key field index of `fieldId` in this table's key, or -1 (the VRF only with the profile).
   int keyFieldIndex(uint32_t fieldId) const;
   unsigned keyFieldBits(unsigned index) const;

   Status tableTypeGet(Kind* type) const override;
   Status keyAllocate(std::unique_ptr<bfrt::BfRtTableKey>* key) const override;
   Status dataAllocate(std::unique_ptr<bfrt::BfRtTableData>* data) const override;
   Status keyReset(bfrt::BfRtTableKey* key) const override;
   Status dataReset(bfrt::bf_rt_id_t actionId, bfrt::BfRtTableData* data) const override;
   Status dataReset(bfrt::BfRtTableData* data) const override;
   Status attributeAllocate(bfrt::TableAttributesType type,
                            std::unique_ptr<bfrt::BfRtTableAttributes>* attr) const override;
   Status tableAttributesSet(Session const& session, Target const& target,
                             bfrt::BfRtTableAttributes const& attr) const override;
   Status keyFieldIdGet(std::string const& name, bfrt::bf_rt_id_t* id) const override;
   Status actionIdGet(std::string const& name, bfrt::bf_rt_id_t* id) const override;
   Status dataFieldIdGet(std::string const& name, bfrt::bf_rt_id_t actionId,
                         bfrt::bf_rt_id_t* id) const override;

   Status devTargetSet(Target const& target) const override;
   Status tableEntryAdd(Session const& session, Target const& target, bfrt::BfRtTableKey const& key,
                        bfrt::BfRtTableData const& data, uint32_t* entryHandle) const override;
   Status tableEntryModByHandle(Session const& session, Target const& target, uint64_t flags,
                                uint32_t entryHandle,
                                bfrt::BfRtTableData const& data) const override;
   Status tableDefaultEntrySet(Session const& session, Target const& target, uint64_t flags,
                               bfrt::BfRtTableData const& data,
                               uint32_t* entryHandle) const override;
   Status tableDefaultEntryReset(Session const& session, Target const& target) const override;
   Status tableEntryDelByHandle(Session const& session, Target const& target,
                                uint32_t const& entryHandle) const override;
   Status tableEntryGet(Session const& session, Target const& target, uint64_t const& flags,
                        uint32_t const& entryHandle, bfrt::BfRtTableKey* key,
                        bfrt::BfRtTableData* data) const override;

 private:
   bool isMatch() const { return kind_ == Kind::MATCH_DIRECT; }
   // The entry pipe of `target`, after checking the device and the scope.
   Status resolve(Target const& target, uint16_t* pipe) const;
   // The same for an entry operation, which only a match table takes.
   Status entryPipe(Target const& target, uint16_t* pipe) const;
   ChipKey const* ownKey(bfrt::BfRtTableKey const* key) const;
   ChipData const* ownData(bfrt::BfRtTableData const* data) const;
   // The action of bound data of this table, or null.
   static bool actionOf(ChipData const& data, ActionRec* act);

   Chip* chip_;
   uint32_t dev_;
   Kind kind_;
   mutable Target devTarget_{-1, 0};
};

}  // namespace chip
