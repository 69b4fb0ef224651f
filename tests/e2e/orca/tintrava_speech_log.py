"""An Orca speech server that speaks nothing and writes every utterance, one
a line, to the file TINTRAVA_ORCA_SPEECH_LOG. Orca loads it by its module
name (speechServerFactory in the test's private settings); no speech
dispatcher, synthesiser or sound output is involved."""

import os

from orca import speechserver


class SpeechServer(speechserver.SpeechServer):
    _active = None

    @staticmethod
    def getFactoryName():
        return "Tintrava speech log"

    @staticmethod
    def getSpeechServers():
        return [SpeechServer.getSpeechServer()]

    @staticmethod
    def getSpeechServer(info=None):
        if SpeechServer._active is None:
            SpeechServer._active = SpeechServer()
        return SpeechServer._active

    @staticmethod
    def shutdownActiveServers():
        pass

    def getInfo(self):
        return [self.getFactoryName(), "log"]

    def getVoiceFamilies(self):
        return []

    def _write(self, kind, text):
        text = " ".join(str(text).split())
        if not text:
            return
        with open(os.environ["TINTRAVA_ORCA_SPEECH_LOG"], "a", encoding="utf-8") as log:
            log.write(f"{kind}\t{text}\n")

    def speak(self, text=None, acss=None, interrupt=True):
        if text:
            self._write("speak", text)

    def speakCharacter(self, character, acss=None):
        self._write("char", character)

    def speakKeyEvent(self, event, acss=None):
        self._write("key", event.getKeyName())

    def sayAll(self, utteranceIterator, progressCallback):
        for context, _acss in utteranceIterator:
            self._write("speak", context.utterance)

    def increaseSpeechRate(self, step=5):
        pass

    def decreaseSpeechRate(self, step=5):
        pass

    def increaseSpeechPitch(self, step=0.5):
        pass

    def decreaseSpeechPitch(self, step=0.5):
        pass

    def updateCapitalizationStyle(self):
        pass

    def updatePunctuationLevel(self):
        pass

    def stop(self):
        pass

    def shutdown(self):
        pass

    def reset(self, text=None, acss=None):
        pass
