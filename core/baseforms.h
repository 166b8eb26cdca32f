// Base forms of inflected English words: the ending rules and the candidates they give.
#pragma once
#include "core/dictsession.h"

// The most candidates one word gives; the table's rules never give more.
const int maxBaseForms = 16;

// The candidate base forms of word, in the order the ending rules are tried: the word is
// lowercased (ASCII letters) first, and each rule whose ending and condition fit gives one
// candidate. None is the lowercased word itself, none comes twice, none is shorter than two
// letters. Fills at most capacity slots and returns how many.
int baseFormCandidates(const char* word, char (*candidates)[dictWordSize], int capacity);
