// The BfRt face, through the tables and ids that the PD interface object found by name.
#include <set>

#include "ChipFixture.h"

namespace chiptest {
namespace {

using bfrt::BfRtTable;
using bfrt::BfRtTarget;

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
   bfrt::bf_status_t addHit(BfRtTarget target, U64 vrf, U64 dip, U64 sip,
                            std::vector<U64> const& vals, U32* h) {
      EXPECT_EQ(t->keyReset(key.get()), 0);
      if (pd->hasVrfKeyField) {
         EXPECT_EQ(key->setValue(pd->vrfKeyFieldId, vrf), 0);
      }
      EXPECT_EQ(key->setValue(pd->dipKeyFieldId, dip), 0);
      EXPECT_EQ(key->setValue(pd->sipKeyFieldId, sip), 0);
      EXPECT_EQ(t->dataReset(pd->actionIdHit, data.get()), 0);
      U32 ids[] = {pd->hitKeyIdFieldId, pd->hitRwIdFieldId, pd->hitProtFieldId, pd->hitFragFieldId,
                   pd->hitNextHopFieldId};
      for (size_t i = 0; i < vals.size(); ++i)
         EXPECT_EQ(data->setValue(ids[i], vals[i]), 0);
      return t->tableEntryAdd(*session, target, *key, *data, h);
   }
   U64 dataValue(U32 field) {
      U64 v = ~0ull;
      EXPECT_EQ(data->getValue(field, &v), 0);
      return v;
   }

   BfRt::BfRtTablePtr t = nullptr;
   std::shared_ptr<bfrt::BfRtSession> session;
   std::unique_ptr<bfrt::BfRtTableKey> key;
   std::unique_ptr<bfrt::BfRtTableData> data;
   BfRtTarget all{kDev, 0xFFFF};
};

TEST_F(BfRtFace, IdsAreFoundByNameDistinctAndNotTrivial) {
   attachBfRt();
   EXPECT_TRUE(pd->hasVrfKeyField);
   EXPECT_EQ(pd->optionalFieldsIndication, 1u);
   EXPECT_EQ(pd->bfRtSecondTable, nullptr);
   EXPECT_EQ(pd->bfRtThirdTable, nullptr);
   std::vector<U32> ids = {
       pd->vrfKeyFieldId,          pd->dipKeyFieldId,      pd->sipKeyFieldId,
       pd->actionIdOnMiss,         pd->actionIdHit,        pd->actionIdHitEcmp,
       pd->hitKeyIdFieldId,        pd->hitRwIdFieldId,     pd->hitProtFieldId,
       pd->hitFragFieldId,         pd->hitNextHopFieldId,  pd->hitEcmpKeyIdFieldId,
       pd->hitEcmpRwIdFieldId,     pd->hitEcmpProtFieldId, pd->hitEcmpFragFieldId,
       pd->hitEcmpEcmpGroupFieldId};
   EXPECT_EQ(std::set<U32>(ids.begin(), ids.end()).size(), ids.size());
   for (U32 id : ids)
      EXPECT_GT(id, 2u);
   BfRtTable::TableType kind{};
   ASSERT_EQ(t->tableTypeGet(&kind), 0);
   EXPECT_EQ(kind, BfRtTable::TableType::MATCH_DIRECT);
   U32 id = 0;
   EXPECT_EQ(t->dataFieldIdGet("nextHop", pd->actionIdHitEcmp, &id), 6);
   EXPECT_EQ(t->keyFieldIdGet("nope", &id), 6);
   // The interface keeps its one session.
   EXPECT_EQ(pd->bfRtTableIntf->bfRtSessionGet(), session);
   EXPECT_EQ(pd->bfRtTableIntf->fwkType()->name(), "BfRt::AgentBfRtTableIntf");
}

TEST_F(BfRtFace, EntriesCrossBetweenTheFaces) {
   attachBfRt();
   U32 hb = 0;
   ASSERT_EQ(addHit(all, 44, 0x01020304, 0x05060708, {7, 9, 17, 1, 100}, &hb), 0);
   Read r = read(hb);
   ASSERT_EQ(r.status, 0);
   EXPECT_EQ(r.action, "p4_pd_tolvex_switch_twiceNatAddrOnlyHit");
   EXPECT_EQ(r.m.l3InfoVrfId, 44);
   EXPECT_EQ(r.m.outerIpv4HdrDip, 0x01020304u);
   EXPECT_EQ(r.m.outerIpv4HdrSip, 0x05060708u);
   EXPECT_EQ(r.a.action_prot, 17);
   EXPECT_EQ(r.a.action_frag, 1);
   EXPECT_EQ(r.a.action_nextHop, 100);

   HitEcmpSpec e{11, 12, 13, 14, 0xbeef};
   MatchSpec m = match(8, 0xa, 0xb);
   Hdl hp = 0;
   ASSERT_EQ(pd->tableAddWithTwiceNatAddrOnlyHitEcmp(kSess, tgt(), &m, &e, &hp), 0);
   ASSERT_EQ(t->tableEntryGet(*session, all, 0, hp, key.get(), data.get()), 0);
   U32 action = 0;
   ASSERT_EQ(data->actionIdGet(&action), 0);
   EXPECT_EQ(action, pd->actionIdHitEcmp);
   U64 v = 0;
   ASSERT_EQ(key->getValue(pd->vrfKeyFieldId, &v), 0);
   EXPECT_EQ(v, 8u);
   ASSERT_EQ(key->getValue(pd->sipKeyFieldId, &v), 0);
   EXPECT_EQ(v, 0xbu);
   EXPECT_EQ(dataValue(pd->hitEcmpKeyIdFieldId), 11u);
   EXPECT_EQ(dataValue(pd->hitEcmpFragFieldId), 14u);
   EXPECT_EQ(dataValue(pd->hitEcmpEcmpGroupFieldId), 0xbeefu);
   EXPECT_EQ(data->getValue(pd->hitNextHopFieldId, &v), 3) << "not a field of the ECMP action";

   // Modify by handle, then delete by handle, seen through PD.
   ASSERT_EQ(t->dataReset(pd->actionIdOnMiss, data.get()), 0);
   ASSERT_EQ(t->tableEntryModByHandle(*session, all, 0x20, hp, *data), 0);
   EXPECT_EQ(read(hp).action, "p4_pd_tolvex_switch_onMiss");
   ASSERT_EQ(t->tableEntryDelByHandle(*session, all, hp), 0);
   EXPECT_EQ(read(hp).status, 6);
   EXPECT_EQ(t->tableEntryDelByHandle(*session, all, hp), 6);
   EXPECT_EQ(t->tableEntryModByHandle(*session, all, 0x20, hp, *data), 6);
   EXPECT_EQ(t->tableEntryGet(*session, all, 0, hp, key.get(), data.get()), 6);
   EXPECT_EQ(addHit(all, 44, 0x01020304, 0x05060708, {}, &hb), 4);
}

TEST_F(BfRtFace, ValuesWiderThanTheirFieldAreRefusedButStoredOnesReadRaw) {
   attachBfRt();
   ASSERT_EQ(t->dataReset(pd->actionIdHit, data.get()), 0);
   EXPECT_EQ(data->setValue(pd->hitProtFieldId, 0x100), 3);
   EXPECT_EQ(data->setValue(pd->hitProtFieldId, 0xff), 0);
   EXPECT_EQ(data->setValue(pd->hitEcmpProtFieldId, 1), 3) << "field of another action";
   EXPECT_EQ(key->setValue(pd->vrfKeyFieldId, 0x10000), 3);
   EXPECT_EQ(key->setValue(pd->dipKeyFieldId, 0x100000000ull), 3);
   ASSERT_EQ(t->dataReset(data.get()), 0);
   EXPECT_EQ(data->setValue(pd->hitProtFieldId, 1), 3) << "unbound data has no fields";
   U32 h = 0;
   EXPECT_EQ(t->tableEntryAdd(*session, all, *key, *data, &h), 3);
   EXPECT_EQ(t->dataReset(0x1234, data.get()), 3);

   ASSERT_EQ(addHit(all, 0, 1, 2, {1, 2, 3, 4, 5}, &h), 0);
   ASSERT_EQ(chip->rawParamIs(h, 2, 0x1FF), 0);
   ASSERT_EQ(t->tableEntryGet(*session, all, 0, h, key.get(), data.get()), 0);
   EXPECT_EQ(dataValue(pd->hitProtFieldId), 0x1FFu);
   EXPECT_EQ(read(h).a.action_prot, 0xFF);
   EXPECT_EQ(chip->rawParamIs(h + 1, 2, 0), 6);
}

TEST_F(BfRtFace, EntryScopeAttributeAndDefaultEntry) {
   attachBfRt();
   std::unique_ptr<bfrt::BfRtTableAttributes> attr;
   ASSERT_EQ(t->attributeAllocate(bfrt::TableAttributesType::ENTRY_SCOPE, &attr), 0);
   EXPECT_EQ(t->tableAttributesSet(*session, BfRtTarget{kDev, 1}, *attr), 3) << "scope unset";
   EXPECT_EQ(attr->entryScopeParamsSet(bfrt::TableEntryScope(2)), 3);
   ASSERT_EQ(attr->entryScopeParamsSet(bfrt::TableEntryScope::ENTRY_SCOPE_SINGLE_PIPELINE), 0);
   EXPECT_EQ(t->tableAttributesSet(*session, BfRtTarget{kDev + 1, 1}, *attr), 3);
   ASSERT_EQ(t->tableAttributesSet(*session, BfRtTarget{kDev, 1}, *attr), 0);
   EXPECT_EQ(chip->scope(), chip::Scope::singlePipe);
   EXPECT_EQ(t->devTargetSet(all), 3);
   EXPECT_EQ(t->devTargetSet(BfRtTarget{kDev, 1}), 0);

   U32 h = 0;
   EXPECT_EQ(addHit(all, 0, 1, 2, {}, &h), 3);
   ASSERT_EQ(addHit(BfRtTarget{kDev, 1}, 0, 1, 2, {}, &h), 0);
   // A target of another pipe does not find the entry.
   EXPECT_EQ(t->tableEntryGet(*session, BfRtTarget{kDev, 0}, 0, h, key.get(), data.get()), 6);
   EXPECT_EQ(t->tableEntryDelByHandle(*session, BfRtTarget{kDev, 2}, h), 6);

   U32 d1 = 0, d2 = 0;
   ASSERT_EQ(t->dataReset(pd->actionIdOnMiss, data.get()), 0);
   ASSERT_EQ(t->tableDefaultEntrySet(*session, BfRtTarget{kDev, 1}, 0x20, *data, &d1), 0);
   ASSERT_EQ(t->dataReset(pd->actionIdHit, data.get()), 0);
   ASSERT_EQ(data->setValue(pd->hitNextHopFieldId, 321), 0);
   ASSERT_EQ(t->tableDefaultEntrySet(*session, BfRtTarget{kDev, 1}, 0x20, *data, &d2), 0);
   EXPECT_EQ(d1, d2);
   EXPECT_NE(d1, h);
   ASSERT_EQ(t->tableEntryGet(*session, BfRtTarget{kDev, 1}, 0, d1, key.get(), data.get()), 0);
   EXPECT_EQ(dataValue(pd->hitNextHopFieldId), 321u);
   U64 v = 1;
   ASSERT_EQ(key->getValue(pd->dipKeyFieldId, &v), 0);
   EXPECT_EQ(v, 0u);
   ASSERT_EQ(t->tableDefaultEntryReset(*session, BfRtTarget{kDev, 1}), 0);
   EXPECT_EQ(chip->defaultAction(1).action, chip::Action::onMiss);
}

TEST_F(BfRtFace, ProfilesShapeWhatBfRtOffers) {
   chip::Profile p;
   p.vrfKeyField = false;
   p.actionProfileTable = true;
   attachBfRt(p);
   EXPECT_FALSE(pd->hasVrfKeyField);
   U64 v = 0;
   U32 h = 0;
   ASSERT_EQ(addHit(all, 0, 1, 2, {}, &h), 0);
   ASSERT_EQ(t->tableEntryGet(*session, all, 0, h, key.get(), data.get()), 0);
   EXPECT_EQ(key->getValue(chip::schema::kMatchKey[0].id, &v), 3) << "no VRF field";
   ASSERT_NE(pd->bfRtSecondTable, nullptr);
   BfRtTable::TableType kind{};
   ASSERT_EQ(pd->bfRtSecondTable->tableTypeGet(&kind), 0);
   EXPECT_EQ(kind, BfRtTable::TableType::ACTION_PROFILE);
   std::unique_ptr<bfrt::BfRtTableKey> pkey;
   std::unique_ptr<bfrt::BfRtTableData> pdata;
   ASSERT_EQ(pd->bfRtSecondTable->keyAllocate(&pkey), 0);
   ASSERT_EQ(pd->bfRtSecondTable->dataAllocate(&pdata), 0);
   EXPECT_EQ(pd->bfRtSecondTable->devTargetSet(all), 0);
   EXPECT_EQ(pd->bfRtSecondTable->tableEntryAdd(*session, all, *pkey, *pdata, &h), 17);
   EXPECT_EQ(t->tableEntryAdd(*session, all, *pkey, *data, &h), 3) << "key of another table";
}

TEST_F(BfRtFace, ChipWithoutBfRtOffersOnlyThePdFace) {
   chip::Profile p;
   p.bfrt = false;
   attachChip(p);
   EXPECT_EQ(bfrt::BfRtDevMgr::getInstance().bfRtInfoGet(kDev), nullptr);
   EXPECT_EQ(pd->bfRtTable, nullptr);
   EXPECT_EQ(pd->bfRtTableIntf, nullptr);
   EXPECT_EQ(pd->optionalFieldsIndication, 1u);
   Hdl h = 0;
   EXPECT_EQ(addMiss(match(1, 2, 3), &h), 0);
}

}  // namespace
}  // namespace chiptest
