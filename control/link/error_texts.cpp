// Reception error class texts, one column per language.
#include "control/link/error_texts.h"

namespace mbus::link {

// Order per column: Timeout, Parity, Checksum, Startsign, Lengthbyte,
// Stopsign, Collision, Frame, UART, no error.
const ErrorTextColumn kErrorTextColumns[9] = {
    /* English */
    {"Timeout, ", "Parity, ", "Checksum, ", "Startsign, ", "Lengthbyte, ",
     "Stopsign, ", "Collision, ", "Frame, ", "UART, ", "No ERROR found"},
    /* German */
    {"Antwortzeit, ", "Parität, ", "Kontrollziffer, ", "Startzeichen, ", "Längenzeichen, ",
     "Stopzeichen, ", "Kollision, ", "Rahmen, ", "UART, ", "Kein Fehler"},
    /* French */
    {"Temps dehors, ", "Parité, ", "Total de contrôle, ", "Bit de départ, ", "Octet de longueur, ",
     "Bit d'arrèt, ", "Collision, ", "Cadre, ", "UART, ", "Aucune ERREUR trouvée"},
    /* Portuguese */
    {"Intervalo de parada, ", "Paridade, ", "Soma de controle, ", "Comece o sinal, ", "Byte do comprimento, ",
     "Pare o sinal, ", "Colisão, ", "Quadro, ", "UART, ", "Nenhum ERRO encontrou"},
    /* Russian */
    {"Тайм-аут, ", "Чётность, ", "Контрольная сумма, ", "Стартовый символ, ", "Байт длины, ",
     "Стоповый символ, ", "Коллизия, ", "Кадр, ", "UART, ", "Ошибок не обнаружено"},
    /* Italian */
    {"Timeout, ", "Parità, ", "Checksum, ", "Byte di start, ", "Byte di lunghezza, ",
     "Byte di stop, ", "Collisione, ", "Trama, ", "UART, ", "Nessun errore rilevato"},
    /* Slovenian */
    {"Časovna omejitev, ", "Pariteta, ", "Kontrolna vsota, ", "Začetni znak, ", "Bajt dolžine, ",
     "Končni znak, ", "Trk, ", "Okvir, ", "UART, ", "Ni najdenih napak"},
    /* Swedish */
    {"Tidsgräns, ", "Paritet, ", "Kontrollsumma, ", "Starttecken, ", "Längdbyte, ",
     "Stopptecken, ", "Kollision, ", "Ram, ", "UART, ", "Inga fel hittades"},
    /* Croatian */
    {"Istek vremena, ", "Paritet, ", "Kontrolni zbroj, ", "Početni znak, ", "Bajt duljine, ",
     "Završni znak, ", "Kolizija, ", "Okvir, ", "UART, ", "Nije pronađena pogreška"},
};

}  // namespace mbus::link
