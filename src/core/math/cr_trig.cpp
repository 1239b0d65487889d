#include "core/math/cr_trig.h"

#include <quadmath.h>

// How the results are made exact.
//
// Both evaluations, for 2^-27 <= |x| < 1.5 * 2^15, write x = k pi/256 + t with |t| <= pi/512,
// t a double-double (Cody and Waite's reduction with pi/256 in two or three parts). With
// phi = k pi/256,
//   sin x = sin(phi) cos t + cos(phi) sin t,
// sin(phi) and cos(phi) come from one table of sin(i pi/256), i = 0..128, in double-double, and
// cos t, sin t from short series. cos x is sin(x + pi/2): the same with k + 128. The products
// that carry the result's leading bits are exact (Dekker's product, no fused multiply-add), the
// rest is rounded double arithmetic with a bounded error. The result hi + lo is then tested
// (Ziv): if hi + (lo - err) and hi + (lo + err) round to the same double, that double is the
// correctly rounded value.
//
// Reduction: pi/256 is carried to 2^-126; |k| < 2^22 makes k*P1 and k*P2 exact, and the rest of
// the three-part reduction errs by less than |k| 2^-113 absolute (nothing when k = 0); its test
// adds |k| 2^-110. The first evaluation reduces with two parts, P1 and Q2, within |k| 2^-93.3,
// and adds |k| 2^-92: enough unless the result is tiny, and a tiny result fails that test and
// takes the precise path. The table is within 2^-106 relative.
//
// First evaluation (cr_trig.h): sin(phi) + cos(phi) th to 2^-78 (an exact product of 26-bit
// heads and an exact sum), the rest rounded; the dropped and rounded terms, and the rounding of lo
// +- err in the test itself, stay below 2^-63.5 of the result, and the test uses 2^-62. It decides
// all but about 3 calls in 1000.
//
// Precise evaluation (here): also sin(phi) th^2/2 exact and the sums in double-double; the
// largest errors are the rounding of the t^3 term (2^-68.3 of the result, where phi = 0) and of
// the final sums (2^-71); the test uses 2^-67. About one call in 10000 fails both tests.
//
// The tests check both bounds against the 113-bit values on millions of arguments.
//
// Exact path: libquadmath, a software implementation of 113-bit arithmetic whose functions give
// the same bits on every machine, rounded once to double. Its results are within about one unit
// of the 113th bit, so the rounded double is the correctly rounded one unless the exact value
// lies within about 2^-59 of a double's unit from a midpoint between two doubles. Among random
// arguments one in 2^59 does; even there the result is the same on every machine, which is what
// the program needs, and a third evaluation in still higher precision would cost code for
// nothing observable.

namespace qm::crm {

namespace detail {

const TableRow kSinTable[129] = {
    {0x0p+0, 0x0p+0, 0x0p+0, 0x0p+0},
    {0x1.921d1fcdec784p-7, 0x1.9878ebe836d9dp-61, 0x1.921d2p-7, -0x1.909c3ep-34},
    {0x1.92155f7a3667ep-6, -0x1.b1d63091a013p-64, 0x1.92155f8p-6, -0x1.726608p-36},
    {0x1.2d865759455cdp-5, 0x1.686f65ba93acp-61, 0x1.2d86578p-5, -0x1.35d5198p-32},
    {0x1.91f65f10dd814p-5, -0x1.912bd0d569a9p-61, 0x1.91f65fp-5, 0x1.0dd814p-33},
    {0x1.f656e79f820ep-5, -0x1.2e1ebe392bffep-61, 0x1.f656e78p-5, 0x1.f820ep-33},
    {0x1.2d52092ce19f6p-4, -0x1.9a088a8bf6b2cp-59, 0x1.2d5209p-4, 0x1.670cfbp-31},
    {0x1.5f6d00a9aa419p-4, -0x1.f4022d03f6c9ap-59, 0x1.5f6d008p-4, 0x1.4d520c8p-31},
    {0x1.917a6bc29b42cp-4, -0x1.e2718d26ed688p-60, 0x1.917a6cp-4, -0x1.eb25eap-31},
    {0x1.c3785c79ec2d5p-4, -0x1.4f39df133fb21p-61, 0x1.c3785c8p-4, -0x1.84f4acp-34},
    {0x1.f564e56a9730ep-4, 0x1.a2704729ae56dp-59, 0x1.f564e58p-4, -0x1.568cf2p-32},
    {0x1.139f0cedaf577p-3, -0x1.523434d1b3cfap-57, 0x1.139f0dp-3, -0x1.250a89p-31},
    {0x1.2c8106e8e613ap-3, 0x1.13000a89a11ep-58, 0x1.2c8107p-3, -0x1.719ec6p-31},
    {0x1.45576b1293e5ap-3, -0x1.285a24119f7b1p-58, 0x1.45576bp-3, 0x1.293e5ap-31},
    {0x1.5e214448b3fc6p-3, 0x1.531ff779ddac6p-57, 0x1.5e21448p-3, -0x1.ba601dp-30},
    {0x1.76dd9de50bf31p-3, 0x1.1d5eeec501b2fp-57, 0x1.76dd9ep-3, -0x1.af40cfp-31},
    {0x1.8f8b83c69a60bp-3, -0x1.26d19b9ff8d82p-57, 0x1.8f8b84p-3, -0x1.cb2cfa8p-30},
    {0x1.a82a025b00451p-3, -0x1.87905ffd084adp-57, 0x1.a82a028p-3, -0x1.27fdd78p-30},
    {0x1.c0b826a7e4f63p-3, -0x1.af1439e521935p-62, 0x1.c0b8268p-3, 0x1.3f27b18p-30},
    {0x1.d934fe5454311p-3, 0x1.75b92277107adp-57, 0x1.d934fe8p-3, -0x1.5d5e778p-30},
    {0x1.f19f97b215f1bp-3, -0x1.42deef11da2c4p-57, 0x1.f19f978p-3, 0x1.90af8d8p-30},
    {0x1.04fb80e37fdaep-2, -0x1.412cdb72583ccp-63, 0x1.04fb81p-2, -0x1.c80252p-30},
    {0x1.111d262b1f677p-2, 0x1.824c20ab7aa9ap-56, 0x1.111d26p-2, 0x1.58fb3b8p-29},
    {0x1.1d3443f4cdb3ep-2, -0x1.720d41c13519ep-57, 0x1.1d3444p-2, -0x1.664984p-31},
    {0x1.294062ed59f06p-2, -0x1.5d28da2c4612dp-56, 0x1.294063p-2, -0x1.2a60fap-30},
    {0x1.35410c2e18152p-2, -0x1.3cb002f96e062p-56, 0x1.35410cp-2, 0x1.70c0a9p-29},
    {0x1.4135c94176601p-2, 0x1.0c97c4afa2518p-56, 0x1.4135c98p-2, -0x1.f44cff8p-29},
    {0x1.4d1e24278e76ap-2, 0x1.2417218792858p-57, 0x1.4d1e24p-2, 0x1.3c73b5p-29},
    {0x1.58f9a75ab1fddp-2, -0x1.efdc0d58cf62p-62, 0x1.58f9a78p-2, -0x1.2a70118p-29},
    {0x1.64c7ddd3f27c6p-2, 0x1.10d2b4a664121p-58, 0x1.64c7dep-2, -0x1.606c1dp-29},
    {0x1.7088530fa459fp-2, -0x1.44b19e0864c5dp-56, 0x1.708853p-2, 0x1.f48b3ep-31},
    {0x1.7c3a9311dcce7p-2, 0x1.9a3f21ef3e8d9p-62, 0x1.7c3a93p-2, 0x1.1dcce7p-30},
    {0x1.87de2a6aea963p-2, -0x1.72cedd3d5a61p-57, 0x1.87de2a8p-2, -0x1.51569dp-30},
    {0x1.9372a63bc93d7p-2, 0x1.684319e5ad5b1p-57, 0x1.9372a6p-2, 0x1.de49eb8p-29},
    {0x1.9ef7943a8ed8ap-2, 0x1.6da81290bdbabp-57, 0x1.9ef794p-2, 0x1.d476c5p-29},
    {0x1.aa6c82b6d3fcap-2, -0x1.d5f106ee5ccf7p-56, 0x1.aa6c828p-2, 0x1.b69fe5p-29},
    {0x1.b5d1009e15ccp-2, 0x1.5b362cb974183p-57, 0x1.b5d1008p-2, 0x1.e15ccp-30},
    {0x1.c1249d8011ee7p-2, -0x1.813aabb515206p-56, 0x1.c1249d8p-2, 0x1.1ee7p-38},
    {0x1.cc66e9931c45ep-2, 0x1.6850e59c37f8fp-58, 0x1.cc66e98p-2, 0x1.31c45ep-30},
    {0x1.d79775b86e389p-2, 0x1.550ec87bc0575p-56, 0x1.d797758p-2, 0x1.c371c48p-29},
    {0x1.e2b5d3806f63bp-2, 0x1.e0d891d3c6841p-58, 0x1.e2b5d38p-2, 0x1.bd8ecp-36},
    {0x1.edc1952ef78d6p-2, -0x1.dd0f7c33edee6p-56, 0x1.edc195p-2, 0x1.77bc6bp-29},
    {0x1.f8ba4dbf89abap-2, -0x1.2ec1fc1b776b8p-60, 0x1.f8ba4d8p-2, 0x1.fc4d5dp-29},
    {0x1.01cfc874c3eb7p-1, -0x1.34a35e7c2368cp-56, 0x1.01cfc88p-1, -0x1.678292p-30},
    {0x1.073879922ffeep-1, -0x1.a5a014347406cp-55, 0x1.0738798p-1, 0x1.22ffeep-29},
    {0x1.0c9704d5d898fp-1, -0x1.8d3d7de6ee9b2p-55, 0x1.0c9705p-1, -0x1.513b388p-28},
    {0x1.11eb3541b4b23p-1, -0x1.ef23b69abe4f1p-55, 0x1.11eb358p-1, -0x1.f25a6e8p-28},
    {0x1.1734d63dedb49p-1, -0x1.7eef2ccc50575p-55, 0x1.1734d6p-1, 0x1.ef6da48p-28},
    {0x1.1c73b39ae68c8p-1, 0x1.b25dd267f66p-55, 0x1.1c73b38p-1, 0x1.ae68c8p-29},
    {0x1.21a799933eb59p-1, -0x1.3a7b177c68fb2p-55, 0x1.21a7998p-1, 0x1.33eb59p-29},
    {0x1.26d054cdd12dfp-1, -0x1.5da743ef3770cp-55, 0x1.26d055p-1, -0x1.9176908p-28},
    {0x1.2bedb25faf3eap-1, -0x1.14981c796ee46p-58, 0x1.2bedb28p-1, -0x1.02860bp-28},
    {0x1.30ff7fce17035p-1, -0x1.efcc626f74a6fp-57, 0x1.30ff8p-1, -0x1.8f47e58p-28},
    {0x1.36058b10659f3p-1, -0x1.1fcb3a35857e7p-55, 0x1.36058bp-1, 0x1.0659f3p-29},
    {0x1.3affa292050b9p-1, 0x1.e3e25e3954964p-56, 0x1.3affa28p-1, 0x1.2050b9p-29},
    {0x1.3fed9534556d4p-1, 0x1.36916608c5061p-55, 0x1.3fed95p-1, 0x1.a2ab6ap-28},
    {0x1.44cf325091dd6p-1, 0x1.8076a2cfdc6b3p-57, 0x1.44cf328p-1, -0x1.7b7115p-28},
    {0x1.49a449b9b0939p-1, -0x1.27ee16d719b94p-55, 0x1.49a4498p-1, 0x1.cd849c8p-28},
    {0x1.4e6cabbe3e5e9p-1, 0x1.3c293edceb327p-57, 0x1.4e6cab8p-1, 0x1.f1f2f48p-28},
    {0x1.5328292a35596p-1, -0x1.a12eb89da0257p-56, 0x1.532829p-1, 0x1.51aacbp-28},
    {0x1.57d69348cecap-1, -0x1.75720992bfbb2p-55, 0x1.57d6938p-1, -0x1.b989bp-28},
    {0x1.5c77bbe65018cp-1, 0x1.069ea9c0bc32ap-55, 0x1.5c77bcp-1, -0x1.9afe74p-29},
    {0x1.610b7551d2cdfp-1, -0x1.251b352ff2a37p-56, 0x1.610b758p-1, -0x1.7169908p-28},
    {0x1.6591925f0783dp-1, 0x1.c3d64fbf5de23p-55, 0x1.6591928p-1, -0x1.07c3e18p-28},
    {0x1.6a09e667f3bcdp-1, -0x1.bdd3413b26456p-55, 0x1.6a09e68p-1, -0x1.80c433p-29},
    {0x1.6e74454eaa8afp-1, -0x1.dbc03c84e226ep-55, 0x1.6e74458p-1, -0x1.8aaba88p-28},
    {0x1.72d0837efff96p-1, 0x1.0d4ef0f1d915cp-55, 0x1.72d0838p-1, -0x1.0006ap-33},
    {0x1.771e75f037261p-1, 0x1.5cfce8d84068fp-56, 0x1.771e76p-1, -0x1.f91b3ep-30},
    {0x1.7b5df226aafafp-1, -0x1.0f537acdf0ad7p-56, 0x1.7b5df2p-1, 0x1.3557d78p-28},
    {0x1.7f8ece3571771p-1, -0x1.9c8d8ce93c917p-55, 0x1.7f8ecep-1, 0x1.ab8bb88p-28},
    {0x1.83b0e0bff976ep-1, -0x1.6f420f8ea3475p-56, 0x1.83b0e08p-1, 0x1.ffcbb7p-28},
    {0x1.87c400fba2ebfp-1, -0x1.2dabc0c3f64cdp-55, 0x1.87c401p-1, -0x1.174504p-31},
    {0x1.8bc806b151741p-1, -0x1.2c5e12ed1336dp-55, 0x1.8bc8068p-1, 0x1.8a8ba08p-28},
    {0x1.8fbcca3ef940dp-1, -0x1.6dfa99c86f2f1p-57, 0x1.8fbccap-1, 0x1.f7ca068p-28},
    {0x1.93a22499263fbp-1, 0x1.3d419a920df0bp-55, 0x1.93a2248p-1, 0x1.9263fbp-29},
    {0x1.9777ef4c7d742p-1, -0x1.15479a240665ep-55, 0x1.9777ef8p-1, -0x1.9c145fp-28},
    {0x1.9b3e047f38741p-1, -0x1.30ee286712474p-55, 0x1.9b3e048p-1, -0x1.8f17ep-34},
    {0x1.9ef43ef29af94p-1, 0x1.b1dfcb60445c2p-56, 0x1.9ef43fp-1, -0x1.aca0d8p-30},
    {0x1.a29a7a0462782p-1, -0x1.128bb015df175p-56, 0x1.a29a7ap-1, 0x1.189e08p-31},
    {0x1.a63091b02fae2p-1, -0x1.e911152248d1p-56, 0x1.a630918p-1, 0x1.817d71p-28},
    {0x1.a9b66290ea1a3p-1, 0x1.9f630e8b6dac8p-60, 0x1.a9b6628p-1, 0x1.0ea1a3p-29},
    {0x1.ad2bc9e21d511p-1, -0x1.47fbe07bea548p-55, 0x1.ad2bcap-1, -0x1.de2aefp-29},
    {0x1.b090a581502p-1, -0x1.926da300ffccep-55, 0x1.b090a58p-1, 0x1.502p-33},
    {0x1.b3e4d3ef55712p-1, -0x1.eb6b8bf11a493p-55, 0x1.b3e4d4p-1, -0x1.0aa8eep-29},
    {0x1.b728345196e3ep-1, -0x1.bc69f324e6d61p-55, 0x1.b728348p-1, -0x1.7348e1p-28},
    {0x1.ba5aa673590d2p-1, 0x1.7ea4e370753b6p-55, 0x1.ba5aa68p-1, -0x1.94de5cp-30},
    {0x1.bd7c0ac6f952ap-1, -0x1.825a732ac700ap-55, 0x1.bd7c0bp-1, -0x1.c8356bp-28},
    {0x1.c08c426725549p-1, 0x1.b157fd80e2946p-58, 0x1.c08c428p-1, -0x1.8daab7p-29},
    {0x1.c38b2f180bdb1p-1, -0x1.6e0b1757c8d07p-56, 0x1.c38b2fp-1, 0x1.80bdb1p-29},
    {0x1.c678b3488739bp-1, 0x1.d86cac7c5ff5bp-57, 0x1.c678b38p-1, -0x1.bbc6328p-28},
    {0x1.c954b213411f5p-1, -0x1.2fb761e946603p-58, 0x1.c954b2p-1, 0x1.3411f5p-29},
    {0x1.cc1f0f3fcfc5cp-1, 0x1.e57613b68f6abp-56, 0x1.cc1f0fp-1, 0x1.fe7e2ep-28},
    {0x1.ced7af43cc773p-1, -0x1.e7b6bb5ab58aep-58, 0x1.ced7af8p-1, -0x1.e19c468p-28},
    {0x1.d17e7743e35dcp-1, -0x1.101da3540130ap-58, 0x1.d17e778p-1, -0x1.e0e512p-28},
    {0x1.d4134d14dc93ap-1, -0x1.4ef5295d25af2p-55, 0x1.d4134dp-1, 0x1.4dc93ap-29},
    {0x1.d696173c9e68bp-1, -0x1.e8c61c6393d55p-56, 0x1.d69617p-1, 0x1.e4f3458p-28},
    {0x1.d906bcf328d46p-1, 0x1.457e610231ac2p-56, 0x1.d906bdp-1, -0x1.9ae574p-30},
    {0x1.db6526238a09bp-1, -0x1.adee7eae6946p-56, 0x1.db6526p-1, 0x1.1c504d8p-28},
    {0x1.ddb13b6ccc23cp-1, 0x1.83c37c6107db3p-55, 0x1.ddb13b8p-1, -0x1.333dc4p-29},
    {0x1.dfeae622dbe2bp-1, -0x1.514ea88425567p-55, 0x1.dfeae6p-1, 0x1.16df158p-28},
    {0x1.e212104f686e5p-1, -0x1.014c76c126527p-55, 0x1.e212108p-1, -0x1.84bc8d8p-28},
    {0x1.e426a4b2bc17ep-1, 0x1.a873889744882p-55, 0x1.e426a48p-1, 0x1.95e0bfp-28},
    {0x1.e6288ec48e112p-1, -0x1.16b56f2847754p-57, 0x1.e6288fp-1, -0x1.db8f77p-28},
    {0x1.e817bab4cd10dp-1, -0x1.d0afe686b5e0ap-56, 0x1.e817ba8p-1, 0x1.a668868p-28},
    {0x1.e9f4156c62ddap-1, 0x1.760b1e2e3f81ep-55, 0x1.e9f4158p-1, -0x1.39d226p-29},
    {0x1.ebbd8c8df0b74p-1, 0x1.c6c8c615e7277p-56, 0x1.ebbd8c8p-1, 0x1.be16e8p-30},
    {0x1.ed740e7684963p-1, 0x1.e82c791f59cc2p-56, 0x1.ed740e8p-1, -0x1.2f6d3ap-30},
    {0x1.ef178a3e473c2p-1, 0x1.6310a67fe774fp-55, 0x1.ef178ap-1, 0x1.f239e1p-28},
    {0x1.f0a7efb9230d7p-1, 0x1.52c7adc6b4989p-56, 0x1.f0a7ef8p-1, 0x1.c9186b8p-28},
    {0x1.f2252f7763adap-1, -0x1.20cb81c8d94abp-55, 0x1.f2252f8p-1, -0x1.138a4cp-30},
    {0x1.f38f3ac64e589p-1, -0x1.d7bafb51f72e6p-56, 0x1.f38f3bp-1, -0x1.cd8d3b8p-28},
    {0x1.f4e603b0b2f2dp-1, -0x1.8ee01e695ac05p-56, 0x1.f4e6038p-1, 0x1.8597968p-28},
    {0x1.f6297cff75cbp-1, 0x1.562172a361fd3p-56, 0x1.f6297dp-1, -0x1.146ap-34},
    {0x1.f7599a3a12077p-1, 0x1.84f31d743195cp-55, 0x1.f7599ap-1, 0x1.d0903b8p-28},
    {0x1.f8764fa714ba9p-1, 0x1.ab256778ffcb6p-56, 0x1.f8764f8p-1, 0x1.38a5d48p-28},
    {0x1.f97f924c9099bp-1, -0x1.e2ae0eea5963bp-55, 0x1.f97f928p-1, -0x1.9b7b328p-28},
    {0x1.fa7557f08a517p-1, -0x1.7a0a8ca13571fp-55, 0x1.fa7558p-1, -0x1.eeb5d2p-30},
    {0x1.fb5797195d741p-1, 0x1.1bfac7397cc08p-56, 0x1.fb5797p-1, 0x1.95d741p-29},
    {0x1.fc26470e19fd3p-1, 0x1.1ec8668ecaceep-55, 0x1.fc2647p-1, 0x1.c33fa6p-30},
    {0x1.fce15fd6da67bp-1, -0x1.5dd6f830d4c09p-56, 0x1.fce16p-1, -0x1.492cc28p-28},
    {0x1.fd88da3d12526p-1, -0x1.87df6378811c7p-55, 0x1.fd88dap-1, 0x1.e89293p-28},
    {0x1.fe1cafcbd5b09p-1, 0x1.a23e3202a884ep-57, 0x1.fe1cbp-1, -0x1.a1527b8p-28},
    {0x1.fe9cdad01883ap-1, 0x1.521ecd0c67e35p-57, 0x1.fe9cdbp-1, -0x1.7f3be3p-28},
    {0x1.ff095658e71adp-1, 0x1.01a8ce18a4b9ep-55, 0x1.ff09568p-1, -0x1.38c7298p-28},
    {0x1.ff621e3796d7ep-1, -0x1.c57bc2e24aa15p-57, 0x1.ff621ep-1, 0x1.bcb6bfp-28},
    {0x1.ffa72effef75dp-1, -0x1.8b4cdcdb25956p-55, 0x1.ffa72fp-1, -0x1.08a3p-37},
    {0x1.ffd886084cd0dp-1, -0x1.1354d4556e4cbp-55, 0x1.ffd886p-1, 0x1.099a1ap-30},
    {0x1.fff62169b92dbp-1, 0x1.5dda3c81fbd0dp-55, 0x1.fff6218p-1, -0x1.646d25p-29},
    {0x1p+0, 0x0p+0, 0x1p+0, 0x0p+0},
};

}  // namespace detail

namespace {

using detail::kFastLimit;
using detail::kInvStep;
using detail::kP1;
using detail::kP2;
using detail::kP3;
using detail::kRound;
using detail::kSinTable;
using detail::kTiny;
using detail::TableRow;

// Error-free transformations.
struct DD {
    double hi, lo;
};

inline DD twoSum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

// Requires |a| >= |b| (or a == 0).
inline DD fastTwoSum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// Veltkamp's split into two halves of 26 and 27 bits; |a| < 2^995.
inline void split(double a, double& head, double& tail) {
    const double c = 134217729.0 * a;  // 2^27 + 1
    head = c - (c - a);
    tail = a - head;
}

// Dekker's product of a = aHead + aTail and b = bHead + bTail (Veltkamp's splits):
// p + e == a * b exactly.
inline DD twoProdSplit(double a, double aHead, double aTail, double b, double bHead, double bTail) {
    const double p = a * b;
    return {p, ((aHead * bHead - p) + aHead * bTail + aTail * bHead) + aTail * bTail};
}

// x = k pi/256 + (th + tl), |th| >= |tl|, with the absolute error of th + tl.
struct Reduced {
    double th, tl;
    std::int64_t k;
    double err;
};

Reduced reduce(double x) {
    const double k = (x * kInvStep + kRound) - kRound;
    const double r1 = x - k * kP1;  // exact: k * P1 is exact and within a factor two of x
    const DD r2 = twoSum(r1, -(k * kP2));
    const DD r = twoSum(r2.hi, r2.lo - k * kP3);
    return {r.hi, r.lo, static_cast<std::int64_t>(k), (k < 0 ? -k : k) * 0x1p-110};
}

// The series of t = th + tl, |t| <= pi/512 (th split for Dekker's product):
//   sin t = th + tl + ps,      ps = -t^3/6 + t^5/120 - t^7/5040 - t^2/2 tl
//   cos t = 1 + pcHi + pcLo,   pcHi = -th^2/2 rounded, pcLo the rest.
struct Series {
    double th, tl, thHead, thTail, ps, pcHi, pcLo;
};

Series series(double th, double tl) {
    Series s{th, tl, 0, 0, 0, 0, 0};
    split(th, s.thHead, s.thTail);
    const DD t2 = twoProdSplit(th, s.thHead, s.thTail, th, s.thHead, s.thTail);
    const double u = t2.hi;
    s.ps =
        th * u * (-0x1.5555555555555p-3 + u * (0x1.1111111111111p-7 + u * -0x1.a01a01a01a01ap-13)) -
        0.5 * u * tl;
    s.pcHi = -0.5 * t2.hi;  // exact
    s.pcLo =
        -0.5 * t2.lo +
        u * u * (0x1.5555555555555p-5 + u * (-0x1.6c16c16c16c17p-10 + u * 0x1.a01a01a01a01ap-16)) -
        th * tl;
    return s;
}

// sin(k pi/256 + t) as hi + lo, within err.
void combine(const Series& s, std::int64_t k, double& hi, double& lo, double& err) {
    // phi = q pi/2 + i pi/256: sin(phi) = X, cos(phi) = Y, one of them sin(i pi/256) and the other
    // sin((128 - i) pi/256), signed by the quadrant.
    static constexpr double kSignX[4] = {1, 1, -1, -1}, kSignY[4] = {1, -1, -1, 1};
    const auto q = static_cast<unsigned>(k >> 7) & 3u;
    const auto i = static_cast<unsigned>(k) & 127u;
    const unsigned ix = (q & 1u) ? 128u - i : i;
    const TableRow& rx = kSinTable[ix];
    const TableRow& ry = kSinTable[128u - ix];
    const double sx = kSignX[q], sy = kSignY[q];
    const double xh = sx * rx.hi, xl = sx * rx.lo, yh = sy * ry.hi, yl = sy * ry.lo;

    // X cos t + Y sin t = X + X (pcHi + pcLo) + Y (th + tl + ps); Y th and X pcHi exactly.
    const DD a = twoProdSplit(yh, sy * ry.head, sy * ry.tail, s.th, s.thHead, s.thTail);
    double pHead, pTail;
    split(s.pcHi, pHead, pTail);
    const DD b = twoProdSplit(xh, sx * rx.head, sx * rx.tail, s.pcHi, pHead, pTail);
    const DD s1 = twoSum(xh, a.hi);
    const DD s2 = twoSum(s1.hi, b.hi);
    const double small = ((s1.lo + s2.lo) + (a.lo + b.lo)) +
                         ((xl + yl * s.th) + (yh * s.tl + (xh * s.pcLo + xl * s.pcHi)));
    const DD y = fastTwoSum(s2.hi, (small + yl * s.ps) + yh * s.ps);
    hi = y.hi;
    lo = y.lo;
    err = 0x1p-67 * (hi < 0 ? -hi : hi);
}

// The double nearest hi + lo when every value within err of it rounds to the same double;
// false otherwise.
inline bool roundTest(double hi, double lo, double err, double& out) {
    const double up = hi + (lo + err);
    const double down = hi + (lo - err);
    out = up;
    return up == down;
}

double toDouble(__float128 v) {
    return static_cast<double>(v);
}

}  // namespace

namespace detail {

void preciseEvaluation(double x, std::int64_t shift, double& hi, double& lo, double& err) {
    const Reduced r = reduce(x);
    combine(series(r.th, r.tl), r.k + shift, hi, lo, err);
    err += r.err;
}

double sinSlow(double x) {
    return toDouble(sinq(static_cast<__float128>(x)));
}
double cosSlow(double x) {
    return toDouble(cosq(static_cast<__float128>(x)));
}

double sinShiftedPrecise(double x, std::int64_t shift) {
    double hi, lo, err, y;
    preciseEvaluation(x, shift, hi, lo, err);
    if (roundTest(hi, lo, err, y)) return y;
    return shift == 0 ? sinSlow(x) : cosSlow(x);
}

double sinShiftedEdge(double x, std::int64_t shift) {
    if ((x < 0 ? -x : x) < kTiny) {
        // |sin x - x| < |x|^3/6 is below a quarter of x's unit, and 1 - cos x < x^2/2 below
        // 2^-55, less than half the unit below 1: x and 1 are the nearest doubles (this keeps +-0
        // and subnormals as they are).
        return shift == 0 ? x : 1.0;
    }
    return shift == 0 ? sinSlow(x) : cosSlow(x);  // large, infinite (NaN) or NaN
}

}  // namespace detail

SinCos sincos(double x) {
    const double ax = x < 0 ? -x : x;
    if (!(ax >= kTiny && ax < kFastLimit)) return {sin(x), cos(x)};
    const Reduced r = reduce(x);
    const Series t = series(r.th, r.tl);
    double hs, ls, es, hc, lc, ec;
    combine(t, r.k, hs, ls, es);
    combine(t, r.k + 128, hc, lc, ec);
    SinCos out;
    if (!roundTest(hs, ls, es + r.err, out.sin)) out.sin = detail::sinSlow(x);
    if (!roundTest(hc, lc, ec + r.err, out.cos)) out.cos = detail::cosSlow(x);
    return out;
}

// These two are not on any per-point path: the 113-bit evaluation rounded once serves them
// (exact in the sense given at the top of this file).
double acos(double x) {
    return toDouble(acosq(static_cast<__float128>(x)));
}

double atan2(double y, double x) {
    return toDouble(atan2q(static_cast<__float128>(y), static_cast<__float128>(x)));
}

}  // namespace qm::crm
