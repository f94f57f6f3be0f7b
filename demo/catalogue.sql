-- The demo catalogue: built into the demo workspace as Versioni.mdb with
--     kv402 catalogue build demo/catalogue.sql Versioni.mdb
-- Devices holds five fixed-position columns: characters 1-33, 36-69, 70-109, 120-159, 160-199.
-- Revision 3 offers no software (its first version is "0"); "Version" stands for no revision.

CREATE TABLE num (numeri TEXT);
INSERT INTO num VALUES ('1');
INSERT INTO num VALUES ('2');
INSERT INTO num VALUES ('3');
INSERT INTO num VALUES ('4');
INSERT INTO num VALUES ('5');
INSERT INTO num VALUES ('Version');

CREATE TABLE Versioni1 (Versione TEXT, Lingua TEXT, File TEXT, Devices TEXT);
INSERT INTO Versioni1 VALUES ('1.0', 'Italiano', 'KV10ITA.S28', 'KV402 terminale base 128 KB        Tastiera standard 24 tasti');
INSERT INTO Versioni1 VALUES ('1.0', 'English', 'KV10ENG.S28', 'KV402 base terminal 128 KB         Standard keypad 24 keys');
INSERT INTO Versioni1 VALUES ('1.1', 'Italiano', 'KV11ITA.S28', 'KV402 terminale base 128 KB        Tastiera standard 24 tasti        Lettore barcode laser SE955');
INSERT INTO Versioni1 VALUES ('1.1', 'English', 'KV11ENG.S28', 'KV402 base terminal 128 KB         Standard keypad 24 keys           Laser barcode reader SE955');

CREATE TABLE Versioni2 (Versione TEXT, Lingua TEXT, File TEXT, Devices TEXT);
INSERT INTO Versioni2 VALUES ('2.0', 'Italiano', 'KV20ITA.S28', 'KV402 terminale 256 KB             Tastiera estesa 32 tasti          Lettore barcode laser SE955                       Modulo radio 433 MHz');
INSERT INTO Versioni2 VALUES ('2.0', 'English', 'KV20ENG.S28', 'KV402 terminal 256 KB              Extended keypad 32 keys           Laser barcode reader SE955                        Radio module 433 MHz');
INSERT INTO Versioni2 VALUES ('2.1', 'English', 'KV21ENG.S28', 'KV402 terminal 256 KB              Extended keypad 32 keys           Laser barcode reader SE955                        Radio module 433 MHz                    Li-ion battery pack 1800 mAh            ');

CREATE TABLE Versioni3 (Versione TEXT, Lingua TEXT, File TEXT, Devices TEXT);
INSERT INTO Versioni3 VALUES ('0', '0', '', '');
INSERT INTO Versioni3 VALUES ('3.0', 'English', 'KV30ENG.S28', 'KV402 terminal 512 KB              Extended keypad 32 keys');

CREATE TABLE Versioni4 (Versione TEXT, Lingua TEXT, File TEXT, Devices TEXT);
INSERT INTO Versioni4 VALUES ('4.0', 'Italiano', 'KV40ITA.S28', 'KV402 terminale 512 KB             Tastiera estesa 32 tasti          Lettore barcode 2D                                Stampante termica KP-58                 Batteria Li-ion 2400 mAh                ');
INSERT INTO Versioni4 VALUES ('4.0', 'English', 'KV40ENG.S28', 'KV402 terminal 512 KB              Extended keypad 32 keys           2D barcode imager                                 Thermal printer KP-58                   Li-ion battery pack 2400 mAh            ');
INSERT INTO Versioni4 VALUES ('4.1', 'English', 'KV41ENG.S28', 'KV402 terminal 512 KB              Extended keypad 32 keys           2D barcode imager');

CREATE TABLE Versioni5 (Versione TEXT, Lingua TEXT, File TEXT, Devices TEXT);
INSERT INTO Versioni5 VALUES ('5.0', 'Italiano', 'KV50ITA.S28', 'KV402 terminale 1 MB               Tastiera estesa 32 tasti          Lettore barcode 2D                                Modulo radio 868 MHz                    Batteria Li-ion 2400 mAh                ');
INSERT INTO Versioni5 VALUES ('5.0', 'English', 'KV50ENG.S28', 'KV402 terminal 1 MB                Extended keypad 32 keys           2D barcode imager                                 Radio module 868 MHz                    Li-ion battery pack 2400 mAh            ');
