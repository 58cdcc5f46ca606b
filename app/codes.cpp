#include "app/codes.h"

namespace rc {

namespace {

const CodeText kCodeTexts[] = {
    {kOk, "ok", "success", "успешно"},
    {kNoDocumentObject, "no-document-object", "no document object", "документ не может быть создан"},
    {kEncodeFailed, "encode-failed", "document not serialisable", "документ не сохраняется"},
    {kArchiveUnusable, "archive-unusable", "archive not usable", "архив недоступен"},
    {kCapacityLow, "capacity-low", "archive capacity low", "в архиве мало места"},
    {kDocumentTooLarge, "document-too-large", "document too large", "документ слишком велик"},
    {kNoResult, "no-result", "the command produced no result", "команда не дала результата"},
    {kCrcMismatch, "crc-mismatch", "CRC mismatch", "ошибка контрольной суммы"},
    {kUnknownCommand, "unknown-command", "unknown command", "неизвестная команда"},
    {kFrameLength, "frame-length", "bad frame length or body not in one piece", "неверная длина кадра"},
    {kNoFrame, "no-frame", "no frame start could be read", "начало кадра не прочитано"},
    {kNoSerialNumber, "no-serial-number", "no factory serial number", "не установлен заводской номер"},
    {kNoArchiveStorage, "no-archive-storage", "no SD card", "нет SD-карты"},
    {kNoRight, "no-right", "right missing", "у кассира нет права на эту операцию"},
    {kNotFound, "not-found", "not found", "не найдено"},
    {kCashierRefused, "cashier-refused", "cashier not found or password wrong", "кассир не найден или неверный пароль"},
    {kBadCashierPrefix, "bad-cashier-prefix", "cashier prefix, record number or line contents missing",
      "нет номера кассира, записи или данных"},
    {kOutOfRange, "out-of-range", "out of range", "значение вне допустимого диапазона"},
    {kNotSaved, "not-saved", "not saved", "не сохранено"},
    {kBadData, "bad-data", "bad data", "неверные данные"},
    {kClockNotLater, "clock-not-later", "clock not later than the last document", "часы не позже последнего документа"},
    {kSerialAlreadySet, "serial-already-set", "serial number already set", "заводской номер уже установлен"},
    {kIdentityFailure, "identity-failure", "identity failure or no key", "сбой памяти идентификации или нет ключа"},
    {kShiftOpen, "shift-open", "shift open", "смена открыта"},
    {kShiftNotOpen, "shift-not-open", "no shift open", "смена не открыта"},
    {kDocumentOpen, "document-open", "a document is open", "открыт другой документ"},
    {kNoOpenDocument, "no-open-document", "no document open", "нет открытого документа"},
    {kWrongDocumentType, "wrong-document-type", "wrong document type", "неверный тип документа"},
    {kArchiveClosed, "archive-closed", "archive closed", "архив закрыт"},
    {kForeignArchive, "foreign-archive", "archive of another device", "архив другого устройства"},
    {kRegistrationLimit, "registration-limit", "registration limit", "исчерпан лимит регистраций"},
    {kUnknownTag, "unknown-tag", "element not taken", "реквизит не принимается"},
    {kBadRegistrationData, "bad-registration-data", "bad registration data", "неверные данные регистрации"},
    {kCheckValueFailed, "check-value-failed", "check value failed", "проверочное значение не получено"},
    {kCloseData, "close-data", "item missing at close", "при закрытии не хватает реквизита"},
    {kNoRegistration, "no-registration", "not registered", "касса не зарегистрирована"},
    {kTlvShort, "tlv-short", "cashier text short", "данные короче заявленного"},
    {kNoCash, "no-cash", "not enough cash", "недостаточно наличных"},
    {kCashInTooLarge, "cash-in-too-large", "cash in too large", "слишком большое внесение"},
    {kBadReceiptType, "bad-receipt-type", "bad receipt type", "неверный вид чека"},
    {kSectionNotFound, "section-not-found", "section not found", "отдел не найден"},
    {kDiscountNotFound, "discount-not-found", "discount not found", "скидка не найдена"},
    {kTaxNotFound, "tax-not-found", "tax rate not usable", "ставка налога недоступна"},
    {kBadLine, "bad-line", "bad line", "неверная строка чека"},
    {kUnderpaid, "underpaid", "underpaid", "оплата меньше суммы чека"},
    {kOverpaid, "overpaid", "overpaid", "оплата или сумма слишком велики"},
    {kReceiptLimit, "receipt-limit", "3000 receipts in the shift", "3000 чеков в смене"},
    {kShiftTooLong, "shift-too-long", "shift older than 24 hours", "смена открыта больше 24 часов"},
    {kCashNotZero, "cash-not-zero", "cash in the drawer", "в ящике есть наличные"},
    {kPrinterSilent, "printer-silent", "printer does not answer", "принтер не отвечает"},
    {kPaperOut, "paper-out", "paper out", "нет бумаги"},
    {kNotFilled, "not-filled", "no result was filled in", "результат не заполнен"},
};

const CodeText* Find(int code) {
  for (const CodeText& t : kCodeTexts) {
    if (t.code == code) return &t;
  }
  return nullptr;
}

}  // namespace

const char* Meaning(int code) {
  const CodeText* t = Find(code);
  return t != nullptr ? t->meaning : "unknown result code";
}

const char* RussianMeaning(int code) {
  const CodeText* t = Find(code);
  return t != nullptr ? t->meaning_ru : "неизвестный код результата";
}

const char* Name(int code) {
  const CodeText* t = Find(code);
  return t != nullptr ? t->name : "unknown";
}

const CodeText* CodeTexts(size_t* count) {
  *count = sizeof kCodeTexts / sizeof kCodeTexts[0];
  return kCodeTexts;
}

}  // namespace rc
