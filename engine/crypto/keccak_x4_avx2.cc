// Four Keccak-f[1600] permutations at once, one per 64-bit lane of a
// 256-bit vector, for the many independent SHAKE instances of matrix
// expansion and noise sampling. Built with AVX2 enabled and called only
// when the CPU has it (keccak_x4.h). It includes no header with inline
// functions: their copies compiled here could be the ones the linker keeps.
#include <cstdint>

namespace velmo::crypto::internal {
namespace {

typedef uint64_t V __attribute__((vector_size(32), may_alias));

constexpr uint64_t kRoundConstants[24] = {
    0x0000000000000001ULL,
    0x0000000000008082ULL,
    0x800000000000808aULL,
    0x8000000080008000ULL,
    0x000000000000808bULL,
    0x0000000080000001ULL,
    0x8000000080008081ULL,
    0x8000000000008009ULL,
    0x000000000000008aULL,
    0x0000000000000088ULL,
    0x0000000080008009ULL,
    0x000000008000000aULL,
    0x000000008000808bULL,
    0x800000000000008bULL,
    0x8000000000008089ULL,
    0x8000000000008003ULL,
    0x8000000000008002ULL,
    0x8000000000000080ULL,
    0x000000000000800aULL,
    0x800000008000000aULL,
    0x8000000080008081ULL,
    0x8000000000008080ULL,
    0x0000000080000001ULL,
    0x8000000080008008ULL,
};

inline V Broadcast(uint64_t c) { return V{c, c, c, c}; }
inline V Rotl(V v, int n) { return (v << n) | (v >> (64 - n)); }

}  // namespace

void KeccakF1600x4Avx2(uint64_t state[25 * 4]);

// Same round structure as the one-way permutation (keccak_f1600.cc).
void KeccakF1600x4Avx2(uint64_t state[25 * 4]) {
  V* s = reinterpret_cast<V*>(state);
  V Aba = s[0];
  V Abe = s[1];
  V Abi = s[2];
  V Abo = s[3];
  V Abu = s[4];
  V Aga = s[5];
  V Age = s[6];
  V Agi = s[7];
  V Ago = s[8];
  V Agu = s[9];
  V Aka = s[10];
  V Ake = s[11];
  V Aki = s[12];
  V Ako = s[13];
  V Aku = s[14];
  V Ama = s[15];
  V Ame = s[16];
  V Ami = s[17];
  V Amo = s[18];
  V Amu = s[19];
  V Asa = s[20];
  V Ase = s[21];
  V Asi = s[22];
  V Aso = s[23];
  V Asu = s[24];
  V Eba, Ebe, Ebi, Ebo, Ebu, Ega, Ege, Egi, Ego, Egu, Eka, Eke, Eki, Eko, Eku, Ema, Eme, Emi, Emo, Emu, Esa, Ese, Esi, Eso, Esu;
  V Ca, Ce, Ci, Co, Cu, Da, De, Di, Do, Du, Ba, Be, Bi, Bo, Bu;
  for (int i = 0; i < 24; i += 2) {
    Ca = Aba ^ Aga ^ Aka ^ Ama ^ Asa;
    Ce = Abe ^ Age ^ Ake ^ Ame ^ Ase;
    Ci = Abi ^ Agi ^ Aki ^ Ami ^ Asi;
    Co = Abo ^ Ago ^ Ako ^ Amo ^ Aso;
    Cu = Abu ^ Agu ^ Aku ^ Amu ^ Asu;
    Da = Cu ^ Rotl(Ce, 1);
    De = Ca ^ Rotl(Ci, 1);
    Di = Ce ^ Rotl(Co, 1);
    Do = Ci ^ Rotl(Cu, 1);
    Du = Co ^ Rotl(Ca, 1);
    Ba = (Aba ^ Da);
    Be = Rotl(Age ^ De, 44);
    Bi = Rotl(Aki ^ Di, 43);
    Bo = Rotl(Amo ^ Do, 21);
    Bu = Rotl(Asu ^ Du, 14);
    Eba = Ba ^ (~Be & Bi) ^ Broadcast(kRoundConstants[i]);
    Ebe = Be ^ (~Bi & Bo);
    Ebi = Bi ^ (~Bo & Bu);
    Ebo = Bo ^ (~Bu & Ba);
    Ebu = Bu ^ (~Ba & Be);
    Ba = Rotl(Abo ^ Do, 28);
    Be = Rotl(Agu ^ Du, 20);
    Bi = Rotl(Aka ^ Da, 3);
    Bo = Rotl(Ame ^ De, 45);
    Bu = Rotl(Asi ^ Di, 61);
    Ega = Ba ^ (~Be & Bi);
    Ege = Be ^ (~Bi & Bo);
    Egi = Bi ^ (~Bo & Bu);
    Ego = Bo ^ (~Bu & Ba);
    Egu = Bu ^ (~Ba & Be);
    Ba = Rotl(Abe ^ De, 1);
    Be = Rotl(Agi ^ Di, 6);
    Bi = Rotl(Ako ^ Do, 25);
    Bo = Rotl(Amu ^ Du, 8);
    Bu = Rotl(Asa ^ Da, 18);
    Eka = Ba ^ (~Be & Bi);
    Eke = Be ^ (~Bi & Bo);
    Eki = Bi ^ (~Bo & Bu);
    Eko = Bo ^ (~Bu & Ba);
    Eku = Bu ^ (~Ba & Be);
    Ba = Rotl(Abu ^ Du, 27);
    Be = Rotl(Aga ^ Da, 36);
    Bi = Rotl(Ake ^ De, 10);
    Bo = Rotl(Ami ^ Di, 15);
    Bu = Rotl(Aso ^ Do, 56);
    Ema = Ba ^ (~Be & Bi);
    Eme = Be ^ (~Bi & Bo);
    Emi = Bi ^ (~Bo & Bu);
    Emo = Bo ^ (~Bu & Ba);
    Emu = Bu ^ (~Ba & Be);
    Ba = Rotl(Abi ^ Di, 62);
    Be = Rotl(Ago ^ Do, 55);
    Bi = Rotl(Aku ^ Du, 39);
    Bo = Rotl(Ama ^ Da, 41);
    Bu = Rotl(Ase ^ De, 2);
    Esa = Ba ^ (~Be & Bi);
    Ese = Be ^ (~Bi & Bo);
    Esi = Bi ^ (~Bo & Bu);
    Eso = Bo ^ (~Bu & Ba);
    Esu = Bu ^ (~Ba & Be);

    Ca = Eba ^ Ega ^ Eka ^ Ema ^ Esa;
    Ce = Ebe ^ Ege ^ Eke ^ Eme ^ Ese;
    Ci = Ebi ^ Egi ^ Eki ^ Emi ^ Esi;
    Co = Ebo ^ Ego ^ Eko ^ Emo ^ Eso;
    Cu = Ebu ^ Egu ^ Eku ^ Emu ^ Esu;
    Da = Cu ^ Rotl(Ce, 1);
    De = Ca ^ Rotl(Ci, 1);
    Di = Ce ^ Rotl(Co, 1);
    Do = Ci ^ Rotl(Cu, 1);
    Du = Co ^ Rotl(Ca, 1);
    Ba = (Eba ^ Da);
    Be = Rotl(Ege ^ De, 44);
    Bi = Rotl(Eki ^ Di, 43);
    Bo = Rotl(Emo ^ Do, 21);
    Bu = Rotl(Esu ^ Du, 14);
    Aba = Ba ^ (~Be & Bi) ^ Broadcast(kRoundConstants[i + 1]);
    Abe = Be ^ (~Bi & Bo);
    Abi = Bi ^ (~Bo & Bu);
    Abo = Bo ^ (~Bu & Ba);
    Abu = Bu ^ (~Ba & Be);
    Ba = Rotl(Ebo ^ Do, 28);
    Be = Rotl(Egu ^ Du, 20);
    Bi = Rotl(Eka ^ Da, 3);
    Bo = Rotl(Eme ^ De, 45);
    Bu = Rotl(Esi ^ Di, 61);
    Aga = Ba ^ (~Be & Bi);
    Age = Be ^ (~Bi & Bo);
    Agi = Bi ^ (~Bo & Bu);
    Ago = Bo ^ (~Bu & Ba);
    Agu = Bu ^ (~Ba & Be);
    Ba = Rotl(Ebe ^ De, 1);
    Be = Rotl(Egi ^ Di, 6);
    Bi = Rotl(Eko ^ Do, 25);
    Bo = Rotl(Emu ^ Du, 8);
    Bu = Rotl(Esa ^ Da, 18);
    Aka = Ba ^ (~Be & Bi);
    Ake = Be ^ (~Bi & Bo);
    Aki = Bi ^ (~Bo & Bu);
    Ako = Bo ^ (~Bu & Ba);
    Aku = Bu ^ (~Ba & Be);
    Ba = Rotl(Ebu ^ Du, 27);
    Be = Rotl(Ega ^ Da, 36);
    Bi = Rotl(Eke ^ De, 10);
    Bo = Rotl(Emi ^ Di, 15);
    Bu = Rotl(Eso ^ Do, 56);
    Ama = Ba ^ (~Be & Bi);
    Ame = Be ^ (~Bi & Bo);
    Ami = Bi ^ (~Bo & Bu);
    Amo = Bo ^ (~Bu & Ba);
    Amu = Bu ^ (~Ba & Be);
    Ba = Rotl(Ebi ^ Di, 62);
    Be = Rotl(Ego ^ Do, 55);
    Bi = Rotl(Eku ^ Du, 39);
    Bo = Rotl(Ema ^ Da, 41);
    Bu = Rotl(Ese ^ De, 2);
    Asa = Ba ^ (~Be & Bi);
    Ase = Be ^ (~Bi & Bo);
    Asi = Bi ^ (~Bo & Bu);
    Aso = Bo ^ (~Bu & Ba);
    Asu = Bu ^ (~Ba & Be);

  }
  s[0] = Aba;
  s[1] = Abe;
  s[2] = Abi;
  s[3] = Abo;
  s[4] = Abu;
  s[5] = Aga;
  s[6] = Age;
  s[7] = Agi;
  s[8] = Ago;
  s[9] = Agu;
  s[10] = Aka;
  s[11] = Ake;
  s[12] = Aki;
  s[13] = Ako;
  s[14] = Aku;
  s[15] = Ama;
  s[16] = Ame;
  s[17] = Ami;
  s[18] = Amo;
  s[19] = Amu;
  s[20] = Asa;
  s[21] = Ase;
  s[22] = Asi;
  s[23] = Aso;
  s[24] = Asu;
}

}  // namespace velmo::crypto::internal
