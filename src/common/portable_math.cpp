#include "common/portable_math.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace portable_math {

namespace {

// Constants printed by scripts/portable_math_constants.py: polynomial fits
// rounded to doubles, and ln 2 and pi/2 split so that k * head is exact.

// LOG_A: absolute error of the fit of (log(1+r) - r)/r^2 about 2^-51.3
constexpr double LOG_A2 = -0x1.0000000000002p-1;  // -0.50000000000000022
constexpr double LOG_A3 = 0x1.5555555554272p-2;  // 0.33333333333306492
constexpr double LOG_A4 = -0x1.fffffffd32673p-3;  // -0.24999999991841867
constexpr double LOG_A5 = 0x1.99999e218d49ep-3;  // 0.20000003375904368
constexpr double LOG_A6 = -0x1.5558858bd4615p-3;  // -0.16667274792648415
constexpr double LOG_A7 = 0x1.22e1b07646b97p-3;  // 0.14203203068686029

constexpr double LOG_LN2_HI = 0x1.62e42fefa3800p-1;
constexpr double LOG_LN2_LO = 0x1.ef35793c76730p-45;

// One interval [a, b) of the mantissa per entry: c has at most 8 significant
// bits and is near 1/m there, a c - 1 is exact, and log(1/c) is split with its
// head on a grid of 2^-42 (like LOG_LN2_HI, so k LOG_LN2_HI + head is exact).
struct LogEntry {
    double c, a_c_minus_1, log_inv_c_hi, log_inv_c_lo;
};
// r in [-0.00558472, 0.0078125]
constexpr LogEntry LOG_TABLE[128] = {
    {0x1.6a00000000000p+0, -0x1.c000000000000p-13, -0x1.62c82f2b9c000p-2, -0x1.e54bdbd7c8a98p-44},
    {0x1.6800000000000p+0, -0x1.0000000000000p-12, -0x1.5d1bdbf581000p-2, 0x1.8d6bdc9c7c238p-44},
    {0x1.6600000000000p+0, -0x1.6000000000000p-12, -0x1.5767717456000p-2, 0x1.64ead9524d7cap-44},
    {0x1.6400000000000p+0, -0x1.0000000000000p-11, -0x1.51aad872e0000p-2, 0x1.f4bd8db0a7cc1p-44},
    {0x1.6200000000000p+0, -0x1.7000000000000p-11, -0x1.4be5f95778000p-2, 0x1.d7c92cd9ad824p-44},
    {0x1.6000000000000p+0, -0x1.0000000000000p-10, -0x1.4618bc21c6000p-2, 0x1.3d82f484c84ccp-46},
    {0x1.5e00000000000p+0, -0x1.5800000000000p-10, -0x1.404308686a000p-2, -0x1.f8ef43049f7d3p-44},
    {0x1.5c00000000000p+0, -0x1.c000000000000p-10, -0x1.3a64c55694000p-2, -0x1.7a71cbcd735d0p-44},
    {0x1.5a00000000000p+0, -0x1.1c00000000000p-9, -0x1.347dd9a988000p-2, 0x1.5594dd4c58092p-45},
    {0x1.5800000000000p+0, -0x1.6000000000000p-9, -0x1.2e8e2bae12000p-2, 0x1.67b1e99b72bd8p-45},
    {0x1.5600000000000p+0, -0x1.ac00000000000p-9, -0x1.2895a13de8000p-2, -0x1.a8d7ad24c13f0p-44},
    {0x1.5400000000000p+0, -0x1.0000000000000p-8, -0x1.22941fbcf8000p-2, 0x1.a6976f5eb0963p-44},
    {0x1.5200000000000p+0, -0x1.2e00000000000p-8, -0x1.1c898c169a000p-2, 0x1.81410e5c62affp-44},
    {0x1.5000000000000p+0, -0x1.6000000000000p-8, -0x1.1675cababa000p-2, -0x1.8380e731f55c4p-44},
    {0x1.5000000000000p+0, -0x1.0000000000000p-12, -0x1.1675cababa000p-2, -0x1.8380e731f55c4p-44},
    {0x1.4e00000000000p+0, -0x1.2000000000000p-10, -0x1.1058bf9ae5000p-2, 0x1.4ab9d817d52cdp-44},
    {0x1.4c00000000000p+0, -0x1.0800000000000p-9, -0x1.0a324e2739000p-2, -0x1.c6bee7ef4030ep-47},
    {0x1.4a00000000000p+0, -0x1.8800000000000p-9, -0x1.0402594b4d000p-2, -0x1.036b89ef42d7fp-48},
    {0x1.4800000000000p+0, -0x1.0800000000000p-8, -0x1.fb9186d5e4000p-3, 0x1.d572aab993c87p-47},
    {0x1.4600000000000p+0, -0x1.5000000000000p-8, -0x1.ef0adcbdc6000p-3, 0x1.b26b79c86af24p-45},
    {0x1.4600000000000p+0, -0x1.4000000000000p-13, -0x1.ef0adcbdc6000p-3, 0x1.b26b79c86af24p-45},
    {0x1.4400000000000p+0, -0x1.6000000000000p-10, -0x1.e27076e2b0000p-3, 0x1.a342c2af0003cp-44},
    {0x1.4200000000000p+0, -0x1.5400000000000p-9, -0x1.d5c216b4fc000p-3, 0x1.1ba91bbca681bp-45},
    {0x1.4000000000000p+0, -0x1.0000000000000p-8, -0x1.c8ff7c79aa000p-3, 0x1.7794f689f8434p-45},
    {0x1.3e00000000000p+0, -0x1.5a00000000000p-8, -0x1.bc286742d8000p-3, -0x1.9ac53f39d121cp-44},
    {0x1.3e00000000000p+0, -0x1.c000000000000p-12, -0x1.bc286742d8000p-3, -0x1.9ac53f39d121cp-44},
    {0x1.3c00000000000p+0, -0x1.f000000000000p-10, -0x1.af3c94e80c000p-3, 0x1.a4e633fcd9066p-52},
    {0x1.3a00000000000p+0, -0x1.c000000000000p-9, -0x1.a23bc1fe2c000p-3, 0x1.539cd91dc9f0bp-44},
    {0x1.3800000000000p+0, -0x1.4800000000000p-8, -0x1.9525a9cf46000p-3, 0x1.297137d9f158fp-44},
    {0x1.3800000000000p+0, -0x1.0000000000000p-12, -0x1.9525a9cf46000p-3, 0x1.297137d9f158fp-44},
    {0x1.3600000000000p+0, -0x1.f800000000000p-10, -0x1.87fa06520c000p-3, -0x1.22120401202fcp-44},
    {0x1.3400000000000p+0, -0x1.e000000000000p-9, -0x1.7ab890210e000p-3, 0x1.bdb9072534a58p-45},
    {0x1.3200000000000p+0, -0x1.6600000000000p-8, -0x1.6d60fe719e000p-3, 0x1.bc6e557134767p-44},
    {0x1.3200000000000p+0, -0x1.a000000000000p-11, -0x1.6d60fe719e000p-3, 0x1.bc6e557134767p-44},
    {0x1.3000000000000p+0, -0x1.6000000000000p-9, -0x1.5ff3070a7a000p-3, 0x1.8586f183bebf2p-44},
    {0x1.2e00000000000p+0, -0x1.3000000000000p-8, -0x1.526e5e3a1c000p-3, 0x1.790ba37fc5238p-44},
    {0x1.2e00000000000p+0, -0x1.0000000000000p-15, -0x1.526e5e3a1c000p-3, 0x1.790ba37fc5238p-44},
    {0x1.2c00000000000p+0, -0x1.1000000000000p-9, -0x1.44d2b6ccb8000p-3, 0x1.70cc16135783cp-46},
    {0x1.2a00000000000p+0, -0x1.1200000000000p-8, -0x1.371fc201e8000p-3, -0x1.ee8779b2d8abcp-44},
    {0x1.2a00000000000p+0, 0x1.8000000000000p-12, -0x1.371fc201e8000p-3, -0x1.ee8779b2d8abcp-44},
    {0x1.2800000000000p+0, -0x1.e000000000000p-10, -0x1.29552f8200000p-3, 0x1.5b967f4471dfcp-44},
    {0x1.2600000000000p+0, -0x1.0c00000000000p-8, -0x1.1b72ad52f6000p-3, -0x1.e80a41811a396p-45},
    {0x1.2600000000000p+0, 0x1.a000000000000p-12, -0x1.1b72ad52f6000p-3, -0x1.e80a41811a396p-45},
    {0x1.2400000000000p+0, -0x1.0000000000000p-9, -0x1.0d77e7cd08000p-3, -0x1.cb2cd2ee2f482p-44},
    {0x1.2200000000000p+0, -0x1.1e00000000000p-8, -0x1.fec9131dc0000p-4, 0x1.54555d1ae6607p-44},
    {0x1.2200000000000p+0, 0x1.0000000000000p-14, -0x1.fec9131dc0000p-4, 0x1.54555d1ae6607p-44},
    {0x1.2000000000000p+0, -0x1.4000000000000p-9, -0x1.e27076e2b0000p-4, 0x1.a342c2af0003cp-45},
    {0x1.1e00000000000p+0, -0x1.4800000000000p-8, -0x1.c5e548f5bc000p-4, -0x1.d0c57585fbe06p-46},
    {0x1.1e00000000000p+0, -0x1.5000000000000p-11, -0x1.c5e548f5bc000p-4, -0x1.d0c57585fbe06p-46},
    {0x1.1c00000000000p+0, -0x1.b000000000000p-9, -0x1.a926d3a4ac000p-4, -0x1.563650bd22a9cp-44},
    {0x1.1c00000000000p+0, 0x1.1000000000000p-10, -0x1.a926d3a4ac000p-4, -0x1.563650bd22a9cp-44},
    {0x1.1a00000000000p+0, -0x1.c000000000000p-10, -0x1.8c345d6318000p-4, -0x1.b20f5acb42a66p-44},
    {0x1.1800000000000p+0, -0x1.2800000000000p-8, -0x1.6f0d28ae58000p-4, 0x1.4b4641b664613p-44},
    {0x1.1800000000000p+0, -0x1.0000000000000p-12, -0x1.6f0d28ae58000p-4, 0x1.4b4641b664613p-44},
    {0x1.1600000000000p+0, -0x1.9c00000000000p-9, -0x1.51b073f060000p-4, -0x1.83f69278e686ap-44},
    {0x1.1600000000000p+0, 0x1.2000000000000p-10, -0x1.51b073f060000p-4, -0x1.83f69278e686ap-44},
    {0x1.1400000000000p+0, -0x1.f000000000000p-10, -0x1.341d7961bc000p-4, -0x1.1d09299837610p-44},
    {0x1.1200000000000p+0, -0x1.4400000000000p-8, -0x1.16536eea38000p-4, 0x1.47c5e768fa309p-46},
    {0x1.1200000000000p+0, -0x1.9000000000000p-11, -0x1.16536eea38000p-4, 0x1.47c5e768fa309p-46},
    {0x1.1000000000000p+0, -0x1.0000000000000p-8, -0x1.f0a30c0118000p-5, 0x1.d599e83368e91p-45},
    {0x1.1000000000000p+0, 0x1.0000000000000p-12, -0x1.f0a30c0118000p-5, 0x1.d599e83368e91p-45},
    {0x1.0e00000000000p+0, -0x1.8800000000000p-9, -0x1.b42dd71198000p-5, 0x1.c827ae5d6704cp-46},
    {0x1.0e00000000000p+0, 0x1.2800000000000p-10, -0x1.b42dd71198000p-5, 0x1.c827ae5d6704cp-46},
    {0x1.0c00000000000p+0, -0x1.2000000000000p-9, -0x1.77458f6330000p-5, 0x1.181dce586af09p-44},
    {0x1.0a00000000000p+0, -0x1.6e00000000000p-8, -0x1.39e87b9fe8000p-5, -0x1.eafd480ad9015p-44},
    {0x1.0a00000000000p+0, -0x1.9000000000000p-10, -0x1.39e87b9fe8000p-5, -0x1.eafd480ad9015p-44},
    {0x1.0800000000000p+0, -0x1.4800000000000p-8, -0x1.f829b0e780000p-6, -0x1.980267c7e09e4p-45},
    {0x1.0800000000000p+0, -0x1.0000000000000p-10, -0x1.f829b0e780000p-6, -0x1.980267c7e09e4p-45},
    {0x1.0600000000000p+0, -0x1.2a00000000000p-8, -0x1.7b91b07d60000p-6, 0x1.3b955b602ace4p-44},
    {0x1.0600000000000p+0, -0x1.2000000000000p-11, -0x1.7b91b07d60000p-6, 0x1.3b955b602ace4p-44},
    {0x1.0400000000000p+0, -0x1.1400000000000p-8, -0x1.fc0a8b0fc0000p-7, -0x1.f1e7cf6d3a69cp-50},
    {0x1.0400000000000p+0, -0x1.0000000000000p-12, -0x1.fc0a8b0fc0000p-7, -0x1.f1e7cf6d3a69cp-50},
    {0x1.0200000000000p+0, -0x1.0600000000000p-8, -0x1.fe02a6b100000p-8, -0x1.9e23f0dda40e4p-46},
    {0x1.0200000000000p+0, -0x1.0000000000000p-14, -0x1.fe02a6b100000p-8, -0x1.9e23f0dda40e4p-46},
    {0x1.0000000000000p+0, -0x1.0000000000000p-8, 0x0.0p+0, 0x0.0p+0},
    {0x1.0000000000000p+0, 0x0.0p+0, 0x0.0p+0, 0x0.0p+0},
    {0x1.fa00000000000p-1, -0x1.0600000000000p-8, 0x1.82448a3880000p-7, 0x1.4554412c584e0p-44},
    {0x1.f600000000000p-1, -0x1.1400000000000p-8, 0x1.432a925980000p-6, 0x1.98139928637fep-47},
    {0x1.f200000000000p-1, -0x1.2a00000000000p-8, 0x1.c63d2ec150000p-6, -0x1.5439ce030a687p-44},
    {0x1.ee00000000000p-1, -0x1.4800000000000p-8, 0x1.252f32f8d0000p-5, 0x1.83e9ae021b67bp-45},
    {0x1.ea00000000000p-1, -0x1.6e00000000000p-8, 0x1.67c94f2d48000p-5, 0x1.dac20827cca0cp-44},
    {0x1.e800000000000p-1, -0x1.2000000000000p-9, 0x1.894aa149f8000p-5, 0x1.9a19a8be97661p-44},
    {0x1.e400000000000p-1, -0x1.8800000000000p-9, 0x1.ccb73cddd8000p-5, 0x1.965c36e09f5fep-44},
    {0x1.e000000000000p-1, -0x1.0000000000000p-8, 0x1.08598b59e4000p-4, -0x1.7e5dd7009902cp-46},
    {0x1.dc00000000000p-1, -0x1.4400000000000p-8, 0x1.2aa04a4470000p-4, 0x1.7a48ba8b1cb41p-44},
    {0x1.da00000000000p-1, -0x1.f000000000000p-10, 0x1.3bdf5a7d20000p-4, -0x1.19bd0ad125895p-44},
    {0x1.d600000000000p-1, -0x1.9c00000000000p-9, 0x1.5e95a4d978000p-4, 0x1.1cb7ce1d17171p-44},
    {0x1.d200000000000p-1, -0x1.2800000000000p-8, 0x1.8197e2f410000p-4, -0x1.c0fe460d20041p-44},
    {0x1.d000000000000p-1, -0x1.c000000000000p-10, 0x1.9335e5d594000p-4, 0x1.3115c3abd47dap-45},
    {0x1.cc00000000000p-1, -0x1.b000000000000p-9, 0x1.b6ac88dad4000p-4, 0x1.b1bdff50225c7p-44},
    {0x1.c800000000000p-1, -0x1.4800000000000p-8, 0x1.da72763844000p-4, 0x1.a89401fa71733p-46},
    {0x1.c600000000000p-1, -0x1.4000000000000p-9, 0x1.ec739830a0000p-4, 0x1.11fcba80cdd10p-44},
    {0x1.c200000000000p-1, -0x1.1e00000000000p-8, 0x1.08598b59e4000p-3, -0x1.7e5dd7009902cp-45},
    {0x1.c000000000000p-1, -0x1.0000000000000p-9, 0x1.1178e8227e000p-3, 0x1.1ef78ce2d07f2p-45},
    {0x1.bc00000000000p-1, -0x1.0c00000000000p-8, 0x1.23d712a49c000p-3, 0x1.00d238fd3df5cp-46},
    {0x1.ba00000000000p-1, -0x1.e000000000000p-10, 0x1.2d1610c868000p-3, 0x1.39d6ccb81b4a1p-47},
    {0x1.b600000000000p-1, -0x1.1200000000000p-8, 0x1.3fb45a5992000p-3, 0x1.19713c0cae559p-44},
    {0x1.b400000000000p-1, -0x1.1000000000000p-9, 0x1.4913d8333c000p-3, -0x1.53e43558124c4p-44},
    {0x1.b000000000000p-1, -0x1.3000000000000p-8, 0x1.5bf406b544000p-3, -0x1.27023eb68981cp-46},
    {0x1.ae00000000000p-1, -0x1.6000000000000p-9, 0x1.6574ebe8c2000p-3, -0x1.98c1d34f0f462p-44},
    {0x1.aa00000000000p-1, -0x1.6600000000000p-8, 0x1.7898d85444000p-3, 0x1.8e67be3dbaf3fp-44},
    {0x1.a800000000000p-1, -0x1.e000000000000p-9, 0x1.823c16551a000p-3, 0x1.e0ddb9a631e83p-46},
    {0x1.a600000000000p-1, -0x1.f800000000000p-10, 0x1.8beafeb390000p-3, -0x1.73d54aae92cd1p-47},
    {0x1.a200000000000p-1, -0x1.4800000000000p-8, 0x1.9f6c40708a000p-3, -0x1.337d94bcd3f43p-44},
    {0x1.a000000000000p-1, -0x1.c000000000000p-9, 0x1.a93ed3c8ae000p-3, -0x1.8724350562169p-45},
    {0x1.9e00000000000p-1, -0x1.f000000000000p-10, 0x1.b31d8575bc000p-3, 0x1.c794e562a63cbp-44},
    {0x1.9a00000000000p-1, -0x1.5a00000000000p-8, 0x1.c6ffbc6f00000p-3, 0x1.ee138d3a69d43p-44},
    {0x1.9800000000000p-1, -0x1.0000000000000p-8, 0x1.d1037f2656000p-3, -0x1.84a7e75b6f6e4p-47},
    {0x1.9600000000000p-1, -0x1.5400000000000p-9, 0x1.db13db0d48000p-3, 0x1.2806a847527e6p-44},
    {0x1.9400000000000p-1, -0x1.6000000000000p-10, 0x1.e530effe72000p-3, -0x1.fdbdbb13f7c18p-44},
    {0x1.9000000000000p-1, -0x1.5000000000000p-8, 0x1.f991c6cb3c000p-3, -0x1.90d04cd7cc834p-44},
    {0x1.8e00000000000p-1, -0x1.0800000000000p-8, 0x1.01eae5626c000p-2, 0x1.a43dcfade85aep-44},
    {0x1.8c00000000000p-1, -0x1.8800000000000p-9, 0x1.07138604d6000p-2, -0x1.e76324e912b17p-44},
    {0x1.8a00000000000p-1, -0x1.0800000000000p-9, 0x1.0c42d67616000p-2, 0x1.7188b163ceae9p-45},
    {0x1.8800000000000p-1, -0x1.2000000000000p-10, 0x1.1178e8227e000p-2, 0x1.1ef78ce2d07f2p-44},
    {0x1.8400000000000p-1, -0x1.6000000000000p-8, 0x1.1bf99635a7000p-2, -0x1.1ac89575c2125p-44},
    {0x1.8200000000000p-1, -0x1.2e00000000000p-8, 0x1.214456d0ec000p-2, -0x1.caf0428b728a3p-44},
    {0x1.8000000000000p-1, -0x1.0000000000000p-8, 0x1.269621134e000p-2, -0x1.1b61f10522625p-44},
    {0x1.7e00000000000p-1, -0x1.ac00000000000p-9, 0x1.2bef07cdc9000p-2, 0x1.a9cfa4a5004f4p-45},
    {0x1.7c00000000000p-1, -0x1.6000000000000p-9, 0x1.314f1e1d36000p-2, -0x1.8e27ad3213cb8p-45},
    {0x1.7a00000000000p-1, -0x1.1c00000000000p-9, 0x1.36b6776be1000p-2, 0x1.16ecdb0f177c8p-46},
    {0x1.7800000000000p-1, -0x1.c000000000000p-10, 0x1.3c25277333000p-2, 0x1.83b54b606bd5cp-46},
    {0x1.7600000000000p-1, -0x1.5800000000000p-10, 0x1.419b423d5f000p-2, -0x1.ce379226de3ecp-44},
    {0x1.7400000000000p-1, -0x1.0000000000000p-10, 0x1.4718dc271c000p-2, 0x1.06c18fb4c14c5p-44},
    {0x1.7200000000000p-1, -0x1.7000000000000p-11, 0x1.4c9e09e173000p-2, -0x1.e20891b0ad8a4p-45},
    {0x1.7000000000000p-1, -0x1.0000000000000p-11, 0x1.522ae0738a000p-2, 0x1.ebe708164c759p-45},
    {0x1.6e00000000000p-1, -0x1.6000000000000p-12, 0x1.57bf753c8d000p-2, 0x1.fadedee5d40efp-46},
    {0x1.6c00000000000p-1, -0x1.0000000000000p-12, 0x1.5d5bddf596000p-2, -0x1.a0b2a08a465dcp-47},
};

// EXP_P: relative error of the fit about 2^-58.8
constexpr double EXP_P1 = 0x1.5555555555553p-3;  // 0.1666666666666666
constexpr double EXP_P2 = -0x1.6c16c16c067f6p-9;  // -0.0027777777777488978
constexpr double EXP_P3 = 0x1.1566ab4293ab7p-14;  // 6.6137564354233329e-05
constexpr double EXP_P4 = -0x1.bbd4d2e0ce3b2p-20;  // -1.6534005952818708e-06
constexpr double EXP_P5 = 0x1.63bbf7892cda2p-25;  // 4.1412916715161142e-08

// SIN_S: relative error of the fit about 2^-57.3
constexpr double SIN_S1 = -0x1.5555555555555p-3;  // -0.16666666666666666
constexpr double SIN_S2 = 0x1.1111111111110p-7;  // 0.0083333333333333315
constexpr double SIN_S3 = -0x1.a01a01a01992fp-13;  // -0.00019841269841265041
constexpr double SIN_S4 = 0x1.71de3a545f836p-19;  // 2.7557319219320579e-06
constexpr double SIN_S5 = -0x1.ae645410e937bp-26;  // -2.5052106225994401e-08
constexpr double SIN_S6 = 0x1.61217d9252c03p-33;  // 1.6058530596645953e-10
constexpr double SIN_S7 = -0x1.ab16f5caa198ap-41;  // -7.5866368828251592e-13

// COS_C: relative error of the fit about 2^-59.5
constexpr double COS_C1 = 0x1.5555555555555p-5;  // 0.041666666666666664
constexpr double COS_C2 = -0x1.6c16c16c16963p-10;  // -0.0013888888888887389
constexpr double COS_C3 = 0x1.a01a019f4ddfdp-16;  // 2.48015872987544e-05
constexpr double COS_C4 = -0x1.27e4fa16cc2d1p-22;  // -2.7557317265878082e-07
constexpr double COS_C5 = 0x1.1eeb67d026ec6p-29;  // 2.0876145049413178e-09
constexpr double COS_C6 = -0x1.907cd8ff5ede7p-37;  // -1.138254464534925e-11

constexpr double LN2_HI = 0x1.62e42fee00000p-1;
constexpr double LN2_LO = 0x1.a39ef35793c76p-33;
constexpr double INV_LN2 = 0x1.71547652b82fep+0;
constexpr double PIO2_1 = 0x1.921fb54400000p+0;
constexpr double PIO2_2 = 0x1.0b4611a600000p-34;
constexpr double PIO2_3 = 0x1.3198a2e000000p-69;
constexpr double PIO2_4 = 0x1.b839a252049c1p-104;
constexpr double TWO_OVER_PI = 0x1.45f306dc9c883p-1;
constexpr double PIO4 = 0x1.921fb54442d18p-1;

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

// log: x = 2^k m with m in [LOG_OFFSET, 2 LOG_OFFSET); bits 45..51 of
// bits(x) - bits(LOG_OFFSET) number the table interval, bits 52 up are k.
constexpr std::uint64_t LOG_OFFSET_BITS = 0x3fe6a00000000000ull;  // 0.70703125
constexpr int LOG_INTERVAL_SHIFT = 45;
constexpr std::uint64_t EXPONENT_FIELD = ~std::uint64_t{0} << 52;
constexpr std::uint64_t INTERVAL_START = ~std::uint64_t{0} << LOG_INTERVAL_SHIFT;  // clears m - a
constexpr std::uint64_t SMALLEST_NORMAL_BITS = std::uint64_t{1} << 52;
constexpr std::uint64_t INFINITY_BITS = std::uint64_t{0x7ff} << 52;

constexpr double HALF_LN2 = 0x1.62e42fefa39efp-2;
constexpr double EXP_OVERFLOW = 0x1.62e42fefa39efp+9;  // largest x with finite exp(x)
constexpr double EXP_UNDERFLOW = -746.0;               // exp(x) < 2^-1076 below: rounds to 0

// Below this |x| the reduction by pi/2 in parts is exact enough (n < 2^20,
// so n times a 33-bit part of pi/2 is exact).
constexpr double REDUCTION_LIMIT = 1.6e6;
constexpr double PIO2 = 0x1.921fb54442d18p+0;  // the double nearest pi/2
constexpr double TINY_ANGLE = 0x1p-27;         // sin x rounds to x, cos x to 1

double from_bits(std::uint64_t b) { return std::bit_cast<double>(b); }
std::uint64_t bits_of(double x) { return std::bit_cast<std::uint64_t>(x); }

// 2^j for a normal result.
double power_of_two(int j) { return from_bits(static_cast<std::uint64_t>(j + 1023) << 52); }

// s + e = a - b exactly (Knuth's two-sum, no ordering of |a|, |b| needed).
void two_diff(double a, double b, double& s, double& e) {
    s = a - b;
    const double bb = s - a;
    e = (a - (s - bb)) - (b + bb);
}

// x = n pi/2 + (hi + lo), |hi| <= pi/4 (plus rounding); quadrant = n mod 4.
struct Reduced {
    double hi, lo;
    int quadrant;
};

Reduced reduce_by_half_pi(double x) {
    if (std::fabs(x) <= PIO4) return {x, 0.0, 0};
    if (std::fabs(x) < REDUCTION_LIMIT) {
        const int n = static_cast<int>(x * TWO_OVER_PI + (x < 0.0 ? -0.5 : 0.5));
        const double dn = n;
        // x - n P1 is exact (n P1 is within a factor 2 of x); the next two
        // products are exact too and their differences are carried in full,
        // so only the last part's product and the final sums round.
        const double t = x - dn * PIO2_1;
        double a, b, c, d;
        two_diff(t, dn * PIO2_2, a, b);
        two_diff(a, dn * PIO2_3, c, d);
        double lo = (b + d) - dn * PIO2_4;
        const double hi = c + lo;
        lo = (c - hi) + lo;
        return {hi, lo, n & 3};
    }
    // Huge arguments: the exact remainder by the double nearest pi/2.
    int quotient;
    const double r = std::remquo(x, PIO2, &quotient);
    return {r, 0.0, quotient & 3};
}

// sin(x + y) for |x| <= pi/4, |y| <= ulp(x): x + x^3 S(x^2) + y (1 - x^2/2).
double sin_kernel(double x, double y) {
    const double z = x * x;
    const double v = z * x;
    const double p = SIN_S2 + z * (SIN_S3 + z * (SIN_S4 + z * (SIN_S5 + z * (SIN_S6 + z * SIN_S7))));
    return x - ((z * (0.5 * y - v * p) - y) - v * SIN_S1);
}

// cos(x + y) for |x| <= pi/4: 1 - x^2/2 + x^4 C(x^2) - x y. The rounding of
// 1 - x^2/2 is recovered exactly and added back with the small terms.
double cos_kernel(double x, double y) {
    const double z = x * x;
    const double hz = 0.5 * z;
    const double w = 1.0 - hz;
    const double r = z * z * (COS_C1 + z * (COS_C2 + z * (COS_C3 + z * (COS_C4 + z * (COS_C5 + z * COS_C6)))));
    return w + (((1.0 - w) - hz) + (r - x * y));
}

}  // namespace

// x = 2^k m; m in the table interval [a, b) with entry c:
// log x = k ln2 + log(1/c) + log(1 + r), r = m c - 1 = (a c - 1) + (m - a) c.
// Both terms of r are exact (m - a has at most 45 bits, c at most 8) and so
// is their sum, r being a multiple of ulp(m) lsb(c) below 2^-7: no division,
// and a short polynomial for log(1 + r) = r + r^2 A(r).
double log(double x) {
    std::uint64_t bits = bits_of(x);
    int k = 0;
    // One unsigned compare catches all but positive normal numbers.
    if (bits - SMALLEST_NORMAL_BITS >= INFINITY_BITS - SMALLEST_NORMAL_BITS) [[unlikely]] {
        if (x == 0.0) return -INF;
        if (!(x > 0.0)) return NOT_A_NUMBER;  // negative or NaN
        if (x == INF) return x;
        bits = bits_of(x * 0x1p54);  // subnormal: scale into the normal range
        k = -54;
    }
    const std::uint64_t offset = bits - LOG_OFFSET_BITS;
    k += static_cast<int>(static_cast<std::int64_t>(offset) >> 52);
    const LogEntry& t = LOG_TABLE[(offset >> LOG_INTERVAL_SHIFT) % 128];
    const std::uint64_t m_bits = bits - (offset & EXPONENT_FIELD);
    const double m = from_bits(m_bits);
    const double a = from_bits(m_bits & INTERVAL_START);
    const double r = t.a_c_minus_1 + (m - a) * t.c;  // exact, see above

    // k ln2 + log(1/c) in a head (exact: both on the 2^-42 grid) and a tail;
    // head + r is split exactly, since the head is 0 or at least r's binade.
    const double dk = k;
    const double head = dk * LOG_LN2_HI + t.log_inv_c_hi;
    const double tail = dk * LOG_LN2_LO + t.log_inv_c_lo;
    const double hi = head + r;
    const double lo = tail + ((head - hi) + r);

    // r^2 A(r), A of degree 5, in pairs so that the terms run side by side.
    const double r2 = r * r;
    const double r4 = r2 * r2;
    const double a01 = LOG_A2 + r * LOG_A3;
    const double a23 = LOG_A4 + r * LOG_A5;
    const double a45 = LOG_A6 + r * LOG_A7;
    return hi + ((lo + r2 * a01) + r4 * (a23 + r2 * a45));
}

// x = k ln2 + r, |r| <= ln2/2; exp(r) = 1 + r + r c / (2 - c) with
// c = r - r^2 P(r^2), and exp(x) = 2^k exp(r).
double exp(double x) {
    if (x != x) return x;
    if (x > EXP_OVERFLOW) return INF;
    if (x < EXP_UNDERFLOW) return 0.0;
    int k = 0;
    double hi = x;
    double lo = 0.0;
    if (std::fabs(x) > HALF_LN2) {
        k = static_cast<int>(x * INV_LN2 + (x < 0.0 ? -0.5 : 0.5));
        const double dk = k;
        hi = x - dk * LN2_HI;  // exact: dk LN2_HI is exact and within a factor 2 of x
        lo = dk * LN2_LO;
    }
    const double r = hi - lo;
    const double z = r * r;
    const double c = r - z * (EXP_P1 + z * (EXP_P2 + z * (EXP_P3 + z * (EXP_P4 + z * EXP_P5))));
    const double y = 1.0 - ((lo - (r * c) / (2.0 - c)) - hi);
    if (k >= -1021 && k <= 1000) return from_bits(bits_of(y) + (static_cast<std::uint64_t>(k) << 52));
    if (k > 1000) return y * 0x1p1000 * power_of_two(k - 1000);
    // Subnormal result: scale exactly into the normal range, then round once.
    return y * power_of_two(k + 1000) * 0x1p-1000;
}

double sin(double x) {
    if (!std::isfinite(x)) return x - x;  // NaN for NaN and +-inf
    if (std::fabs(x) < TINY_ANGLE) return x;
    const Reduced r = reduce_by_half_pi(x);
    switch (r.quadrant) {
        case 0: return sin_kernel(r.hi, r.lo);
        case 1: return cos_kernel(r.hi, r.lo);
        case 2: return -sin_kernel(r.hi, r.lo);
        default: return -cos_kernel(r.hi, r.lo);
    }
}

double cos(double x) {
    if (!std::isfinite(x)) return x - x;
    if (std::fabs(x) < TINY_ANGLE) return 1.0;
    const Reduced r = reduce_by_half_pi(x);
    switch (r.quadrant) {
        case 0: return cos_kernel(r.hi, r.lo);
        case 1: return -sin_kernel(r.hi, r.lo);
        case 2: return -cos_kernel(r.hi, r.lo);
        default: return sin_kernel(r.hi, r.lo);
    }
}

}  // namespace portable_math
