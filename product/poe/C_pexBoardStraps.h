#pragma once

class I_nkPCISwitcher;

// The board straps of the PoE cards built around a PEX 8608 switch, read on the switch's pins:
//   - 2, 3, 4, 5, 10: PCB revision bits 0 to 4;
//   - 6, 7, 8, 9: card identifier bits 0 to 3, active low (a rotary switch pulls a pin low);
//   - 11: reads 0 on the first boards, which are identified by their straps;
//   - 12: on those boards, 1 for a two-port card.
class C_pexBoardStraps {
  public:
    static constexpr unsigned kPcbVersionPins[5] = {2, 3, 4, 5, 10};
    static constexpr unsigned kCardIdPins[4] = {6, 7, 8, 9};
    static constexpr unsigned kTiedLowPin = 11;
    static constexpr unsigned kTwoPortPin = 12;

    // The PCB revision; -1 without a switch or when its first pin cannot be read, the bits
    // read so far when a later one cannot.
    static int pcbVersion(I_nkPCISwitcher* switcher);
    // The card identifier: 0, QRT_ERR_INVALID_PARAM without `id`, QRT_ERR_NOT_INITIALIZED
    // without a switch, or the failing pin read's status.
    static int cardId(I_nkPCISwitcher* switcher, int* id);
};
