// The chip's two SDK faces: the PD interface object's binding and the PD functions it bound,
// and the BfRt face through the tables and ids that object found by name.
#include <functional>

#include "ChipRig.h"
#include "Zin/Exception.h"

namespace chiptest {
namespace {

using bfrt::BfRtTable;
using bfrt::BfRtTarget;
using Values = std::vector<U64>;

using PdFace = ChipRig;

std::string constructionError(void* dl, char const* name) {
   try {
      BfPdTwiceNatAddrOnlyIntf::Ptr p = new BfPdTwiceNatAddrOnlyIntf(kDev, name, dl, kSess);
   } catch (Zin::Exception const& e) {
      return e.what();
   }
   return "no error";
}

TEST_F(PdFace, BindingFindsEachFunctionAndNamesWhatIsMissing) {
   chip::Profile noBfRt;
   noBfRt.bfrt = false;
   attachChip(noBfRt);
   EXPECT_TRUE(pd->bfRtTable == nullptr && pd->bfRtTableIntf == nullptr);
   EXPECT_EQ(reinterpret_cast<void*>(pd->tableDelete),
             ::dlsym(dl, "p4_pd_tolvex_switch_twiceNatAddrOnly_table_delete"));
   void* other = ::dlopen(TWICENAT_LIB_DIR "/libzinrt.so", RTLD_NOW);
   ASSERT_NE(other, nullptr);
   EXPECT_EQ(constructionError(other, "libzinrt.so"),
             "PD library 'libzinrt.so' has no symbol "
             "'p4_pd_tolvex_switch_twiceNatAddrOnly_set_property'");
   ::dlclose(other);
}

// A chip of capacity 3 holding entry `h` at (1, 2, 3), through a script of calls.
TEST_F(PdFace, RefusedCallsAnswerTheirStatusAndChangeNothing) {
   chip::Profile p;
   p.capacity = 3;
   attachChip(p);
   Hdl h = 0;
   ASSERT_EQ(addHit(match(1, 2, 3), hit(1, 1, 1, 1, 1), &h), 0);
   auto miss = [this](U16 vrf, U32 dip, U16 pipe = kAll) {
      Hdl out = 0xdead;
      Status st = addMiss(match(vrf, dip, 3), &out, pipe);
      EXPECT_EQ(st == 0, out != 0xdead) << "a refused add leaves the handle alone";
      return st;
   };
   struct Row {
      char const* what;
      Status want;
      std::function<Status()> call;
   } const rows[] = {
       {"duplicate key", 4, [&] { return miss(1, 2); }},
       {"other VRF is another key", 0, [&] { return miss(2, 2); }},
       {"pipe in all-pipes scope", 3, [&] { return miss(5, 5, 0); }},
       {"third entry", 0, [&] { return miss(0, 9); }},
       {"beyond capacity", 9, [&] { return miss(0, 8); }},
       {"modify unknown handle", 6, [&] { return pd->tableModifyWithOnMiss(kSess, kDev, 0xabc); }},
       {"unknown device", 3, [&] { return pd->tableDelete(kSess, kDev + 1, h); }},
       {"scope change with entries", 24, [&] { return pd->setProperty(kSess, kDev, 1, 1); }},
       {"delete", 0, [&] { return pd->tableDelete(kSess, kDev, h); }},
       {"delete twice", 6, [&] { return pd->tableDelete(kSess, kDev, h); }},
       {"read deleted handle", 6, [&] { return Status(std::stoi(read(h))); }},
       {"room after a delete", 0, [&] { return miss(0, 8); }},
   };
   for (auto const& r : rows)
      EXPECT_EQ(r.call(), r.want) << r.what;
   EXPECT_EQ(chip->count(), 3u);
}

TEST_F(PdFace, SinglePipeScopeKeepsEntriesPerPipe) {
   attachChip();
   ASSERT_EQ(pd->setProperty(kSess, kDev, 1, 1), 0);
   Hdl h = 0, hp[4] = {};
   EXPECT_EQ(addMiss(match(1, 1, 1), &h, kAll), 3);
   EXPECT_EQ(addMiss(match(1, 1, 1), &h, 4), 3) << "four pipes: 0 to 3";
   for (U16 p = 0; p < 4; ++p)
      ASSERT_EQ(addHit(match(1, 1, 1), hit(p, 0, 0, 0, 0), &hp[p], p), 0);
   EXPECT_EQ(addMiss(match(1, 1, 1), &h, 2), 4);
   // Handle-only operations find the entry in whichever pipe holds it.
   EXPECT_EQ(read(hp[2]), "twiceNatAddrOnlyHit 1 1 1 2 0 0 0 0");
   ASSERT_EQ(pd->tableDelete(kSess, kDev, hp[2]), 0);
   EXPECT_EQ(std::vector<U32>({chip->count(0), chip->count(1), chip->count(2), chip->count(3)}),
             std::vector<U32>({1, 1, 0, 1}));
}

class BfRtFace : public ChipRig {
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
