// The PD interface object binds the PD function set by name from a loaded library.
#include "ChipFixture.h"
#include "Zin/Exception.h"

namespace chiptest {
namespace {

using PdIntf = ChipFixture;

std::string constructionError(void* dl, char const* name) {
   try {
      BfPdTwiceNatAddrOnlyIntf::Ptr p = new BfPdTwiceNatAddrOnlyIntf(kDev, name, dl, kSess);
   } catch (Zin::Exception const& e) {
      return e.what();
   }
   return "no error";
}

TEST_F(PdIntf, RefusesALibraryWithoutThePdFunctions) {
   attachChip();
   void* other = ::dlopen(TWICENAT_LIB_DIR "/libzinrt.so", RTLD_NOW);
   ASSERT_NE(other, nullptr);
   EXPECT_EQ(constructionError(other, "libzinrt.so"),
             "PD library 'libzinrt.so' has no symbol "
             "'p4_pd_tolvex_switch_twiceNatAddrOnly_set_property'");
   ::dlclose(other);
   EXPECT_EQ(constructionError(nullptr, "libpd.so"), "PD library 'libpd.so' is not loaded");
}

TEST_F(PdIntf, KeepsItsArgumentsAndBindsTheSdkFunctions) {
   attachChip();
   EXPECT_EQ(pd->pdLibName, "libtwicenat_sdk.so");
   EXPECT_EQ(pd->dlHandle, dl);
   EXPECT_EQ(pd->sessionId, kSess);
   EXPECT_EQ(pd->deviceId, kDev);
   EXPECT_EQ(reinterpret_cast<void*>(pd->tableDelete),
             ::dlsym(dl, "p4_pd_tolvex_switch_twiceNatAddrOnly_table_delete"));
   EXPECT_EQ(pd->fwkType()->name(), "BfPdTwiceNatAddrOnly::BfPdTwiceNatAddrOnlyIntf");
   EXPECT_TRUE(pd->fwkType()->isA(&Zin::ptrInterfaceType()));
}

TEST_F(PdIntf, AMissingBfRtIdIsReported) {
   attachChip();
   chip::faultIs("actionIdGet", 6, 2);
   EXPECT_EQ(constructionError(dl, "libtwicenat_sdk.so"),
             "BfRt table 'twiceNatAddrOnly' of device 3 has no action 'twiceNatAddrOnlyHit' "
             "(status 6)");
}

}  // namespace
}  // namespace chiptest
