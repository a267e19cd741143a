// The result codes' messages: one table and one lookup.
//
// The texts are Windows-1252: umlauts and sharp s are one byte each.
#include "texts/messages.h"

#include "datenbank.h"

namespace {

// Indexed by -code.
constexpr const char* kMessages[] = {
    "Es ist kein Fehler aufgetreten.",
    "Unbekannter Fehler.",
    "Die angegebene Datei wurde nicht gefunden.",
    "Beim Zugriff auf die Datei ist ein Fehler aufgetreten.",
    "Es wurde keine Datei angegeben.",
    "Einige oder alle Datens\xE4tze in der Datei haben eine andere Anzahl von Feldern als "
    "erwartet.",
    "Es wurde kein Trennzeichen angegeben.",
    "Es konnte nicht genug Speicherplatz reserviert werden, um die Aktion auszuf\xFChren.",
    "Integrit\xE4tsfehler. In der Datei sind unterschiedlich gro\xDF"
    "e Datens\xE4tze enthalten.",
    "Es wurde kein Datensatz ausgew\xE4hlt.",
    "Die Datenbank enth\xE4lt keine Datens\xE4tze oder es wurde keine Datenbank geladen.",
    "Das angegebene Feld existiert nicht.",
    "Das angegebene Feld enth\xE4lt keine Daten.",
    "Der angeforderte Datensatz ist nicht vorhanden.",
    "Es ist ein Fehler beim Schreiben der Datenbank-Datei aufgetreten. M\xF6glicherweise ist das "
    "Ger\xE4t nicht bereit oder es ist nicht genug freier Speicher vorhanden.",
    "Es ist noch keine Datenbank ge\xF6"
    "ffnet/geladen worden.",
};

constexpr int kMessageCount = sizeof(kMessages) / sizeof(kMessages[0]);
static_assert(kMessageCount == 1 - dbErrNotOpen, "one message per result code");

}  // namespace

const char* ResultMessage(int code) noexcept {
  if (code > 0 || code <= -kMessageCount) {
    return nullptr;
  }
  return kMessages[-code];
}
