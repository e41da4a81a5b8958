// The BfRt face, through the tables and ids that the PD interface object found by name.
#include "ChipFixture.h"

namespace chiptest {
namespace {

using bfrt::BfRtTable;
using bfrt::BfRtTarget;
using Values = std::vector<U64>;

class BfRtFace : public ChipFixture {
 public:
   void attachBfRt(chip::Profile const& p = {}) {
      attachChip(p);
      ASSERT_NE(pd->bfRtTable, nullptr);
      t = pd->bfRtTable;
      session = pd->bfRtTableIntf->bfRtSessionGet();
      ASSERT_EQ(t->keyAllocate(&key), 0);
      ASSERT_EQ(t->dataAllocate(&data), 0);
   }
   // Adds (vrf 44,) `dip`, 5.6.7.8 with action hit and `vals` as its parameters.
   bfrt::bf_status_t addHit(BfRtTarget target, U64 dip, Values const& vals, U32* h) {
      EXPECT_EQ(t->keyReset(key.get()), 0);
      if (pd->hasVrfKeyField) {
         EXPECT_EQ(key->setValue(pd->vrfKeyFieldId, 44), 0);
      }
      EXPECT_EQ(key->setValue(pd->dipKeyFieldId, dip), 0);
      EXPECT_EQ(key->setValue(pd->sipKeyFieldId, 0x05060708), 0);
      EXPECT_EQ(t->dataReset(pd->actionIdHit, data.get()), 0);
      U32 const fields[] = {pd->hitKeyIdFieldId, pd->hitRwIdFieldId, pd->hitProtFieldId,
                            pd->hitFragFieldId, pd->hitNextHopFieldId};
      for (size_t i = 0; i < vals.size(); ++i)
         EXPECT_EQ(data->setValue(fields[i], vals[i]), 0);
      return t->tableEntryAdd(*session, target, *key, *data, h);
   }
   // Entry `h` read through BfRt: {action id, [vrf,] dip, sip, values of `fields`}, or {status}.
   Values get(U32 h, std::vector<U32> const& fields, BfRtTarget target = {kDev, kAll}) {
      if (auto st = t->tableEntryGet(*session, target, 0, h, key.get(), data.get()))
         return {U64(st)};
      U32 action = 0;
      EXPECT_EQ(data->actionIdGet(&action), 0);
      Values out{action};
      auto value = [&out](auto const& o, U32 field) {
         out.push_back(~0ull);
         EXPECT_EQ(o->getValue(field, &out.back()), 0) << field;
      };
      if (pd->hasVrfKeyField) value(key, pd->vrfKeyFieldId);
      value(key, pd->dipKeyFieldId);
      value(key, pd->sipKeyFieldId);
      for (U32 f : fields)
         value(data, f);
      return out;
   }

   BfRt::BfRtTablePtr t = nullptr;
   std::shared_ptr<bfrt::BfRtSession> session;
   std::unique_ptr<bfrt::BfRtTableKey> key;
   std::unique_ptr<bfrt::BfRtTableData> data;
   BfRtTarget all{kDev, kAll};
};

TEST_F(BfRtFace, EntryScopeAttributeAndDefaultEntry) {
   attachBfRt();
   BfRtTarget const pipe1{kDev, 1};
   std::unique_ptr<bfrt::BfRtTableAttributes> attr;
   ASSERT_EQ(t->attributeAllocate(bfrt::TableAttributesType::ENTRY_SCOPE, &attr), 0);
   ASSERT_EQ(attr->entryScopeParamsSet(bfrt::TableEntryScope::ENTRY_SCOPE_SINGLE_PIPELINE), 0);
   ASSERT_EQ(t->tableAttributesSet(*session, pipe1, *attr), 0);
   EXPECT_EQ(t->devTargetSet(all), 3);
   EXPECT_EQ(t->devTargetSet(pipe1), 0);

   U32 h = 0;
   EXPECT_EQ(addHit(all, 1, {}, &h), 3);
   ASSERT_EQ(addHit(pipe1, 1, {}, &h), 0);
   EXPECT_EQ(get(h, {}, BfRtTarget{kDev, 0}), Values{6}) << "another pipe does not hold it";

   U32 d1 = 0, d2 = 0;
   ASSERT_EQ(t->dataReset(pd->actionIdOnMiss, data.get()), 0);
   ASSERT_EQ(t->tableDefaultEntrySet(*session, pipe1, 0x20, *data, &d1), 0);
   ASSERT_EQ(t->dataReset(pd->actionIdHit, data.get()), 0);
   ASSERT_EQ(data->setValue(pd->hitNextHopFieldId, 321), 0);
   ASSERT_EQ(t->tableDefaultEntrySet(*session, pipe1, 0x20, *data, &d2), 0);
   EXPECT_TRUE(d1 == d2 && d1 != h) << d1 << " " << d2;
   EXPECT_EQ(get(d1, {pd->hitNextHopFieldId}, pipe1), (Values{pd->actionIdHit, 0, 0, 0, 321}));
   ASSERT_EQ(t->tableDefaultEntryReset(*session, pipe1), 0);
   EXPECT_EQ(chip->defaultAction(1).action, chip::Action::onMiss);
}

TEST_F(BfRtFace, ProfilesShapeBothFaces) {
   chip::Profile p;
   p.vrfKeyField = false;
   p.actionProfileTable = true;
   attachBfRt(p);
   EXPECT_FALSE(pd->hasVrfKeyField);
   EXPECT_EQ(pd->optionalFieldsIndication, 0u);
   // Without the VRF field the VRF is no part of the key.
   Hdl h = 0, h2 = 0;
   ASSERT_EQ(addMiss(match(5, 1, 2), &h), 0);
   EXPECT_EQ(addMiss(match(6, 1, 2), &h2), 4);
   EXPECT_EQ(read(h), "onMiss 0 1 2 0 0 0 0 0");
   ASSERT_EQ(addHit(all, 7, {}, &h), 0);
   EXPECT_EQ(get(h, {}), (Values{pd->actionIdHit, 7, 0x05060708}));

   auto* second = pd->bfRtSecondTable;
   ASSERT_NE(second, nullptr);
   BfRtTable::TableType kind{};
   ASSERT_EQ(second->tableTypeGet(&kind), 0);
   EXPECT_EQ(kind, BfRtTable::TableType::ACTION_PROFILE);
   std::unique_ptr<bfrt::BfRtTableKey> pkey;
   ASSERT_EQ(second->keyAllocate(&pkey), 0);
   EXPECT_EQ(t->tableEntryAdd(*session, all, *pkey, *data, &h), 3) << "key of another table";
}

}  // namespace
}  // namespace chiptest
