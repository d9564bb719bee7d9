// SPDX-License-Identifier: Apache-2.0
#include "entry_points.h"

#include <map>

#include "platform/codepage.h"
#include "platform/support.h"

namespace fpd {

namespace {

using K = Kind;
using plat::Package;

// The accessors that the invokers pass to the entry points, one per argument kind.
struct A {
  CallArgs& c;
  plat::AnsiString& T(int i) { return c.Args[static_cast<size_t>(i)].Text; }
  plat::WideString& W(int i) { return c.Args[static_cast<size_t>(i)].Wide; }
  bool& B(int i) { return c.Args[static_cast<size_t>(i)].Bool; }
  int I(int i) { return c.Args[static_cast<size_t>(i)].Int; }
  double& D(int i) { return c.Args[static_cast<size_t>(i)].Double; }
  plat::Variant& V(int i) { return c.Args[static_cast<size_t>(i)].Value; }
  ArfisOpenArray& Arr(int i) { return c.Args[static_cast<size_t>(i)].Array; }
  plat::TClientDataSet*& S(int i) { return c.Args[static_cast<size_t>(i)].Dataset; }
  plat::TStringList*& L(int i) { return c.Args[static_cast<size_t>(i)].List; }
};

Json Text(const plat::AnsiString& s) {
  return FromAnsi(s);
}

#define FN(Name) p.Get<decltype(::Name)>(#Name)
#define ENTRY(Name, params, body)                              \
  EntryPoint {                                                 \
#Name, params, [](const Package& p, CallArgs& c) -> Json {   \
      A a{c};                                                    \
      (void)a;                                                   \
      body                                                       \
    } \
  }

std::vector<EntryPoint> MakeTable() {
  using P = std::vector<Param>;
  const Param text1{"stParam", K::Text};
  std::vector<EntryPoint> t;
  t.push_back(
      ENTRY(StartImpFiscal, (P{{"Params", K::Bundle}}), { return FN(StartImpFiscal)(a.V(0)); }));
  t.push_back(ENTRY(ImpFisDebug, (P{{"Msg", K::Text}}), {
    FN(ImpFisDebug)(a.T(0));
    return nullptr;
  }));
  t.push_back(ENTRY(Estado_Imp, (P{text1, {"boParam1", K::Bool}, {"boParam2", K::Bool}}),
                    { return FN(Estado_Imp)(a.T(0), a.B(1), a.B(2)); }));
  t.push_back(ENTRY(VerificaData,
                    (P{{"stEsquemaCor", K::Text},
                       {"dtDate", K::Date, true},
                       text1,
                       {"stData", K::Text},
                       {"boSetaData", K::Bool}}),
                    { return FN(VerificaData)(a.T(0), a.D(1), a.T(2), a.T(3), a.B(4)); }));
  t.push_back(ENTRY(Carrega_Dados_Impressora, (P{{"Params", K::Bundle, true}}),
                    { return FN(Carrega_Dados_Impressora)(a.V(0)); }));
  t.push_back(ENTRY(Nr_Cupom, (P{{"stParam1", K::Text}, {"stParam2", K::Text}}),
                    { return Text(FN(Nr_Cupom)(a.T(0), a.T(1))); }));
  t.push_back(
      ENTRY(AbreCupom, (P{{"Params", K::Bundle, true}}), { return FN(AbreCupom)(a.V(0)); }));
  t.push_back(ENTRY(VendaItem, (P{{"Params", K::Bundle}}), { return FN(VendaItem)(a.V(0)); }));
  t.push_back(ENTRY(Cancela_ItGenerico,
                    (P{{"stEsquemaCor", K::Text},
                       text1,
                       {"NmProd", K::Wide},
                       {"TaxaIva", K::Wide},
                       {"Qualificador", K::Wide},
                       {"QtdeCultos", K::Wide},
                       {"ImposInterPerc", K::Wide},
                       {"ImpostoInterFixo", K::Wide},
                       {"stTipoTicket", K::Wide},
                       {"doQtda", K::Double},
                       {"doValor", K::Double}}),
                    {
                      return FN(Cancela_ItGenerico)(a.T(0), a.T(1), a.W(2), a.W(3), a.W(4), a.W(5),
                                                    a.W(6), a.W(7), a.W(8), a.D(9), a.D(10));
                    }));
  t.push_back(ENTRY(FechaCupom,
                    (P{{"arParams", K::OpenArray},
                       {"stlCupomTef", K::StringList},
                       {"oleRetorno", K::AnswerArray, true}}),
                    { return FN(FechaCupom)(a.Arr(0), a.L(1), a.V(2)); }));
  t.push_back(ENTRY(Cancela_Cupom_Imp,
                    (P{{"arParams", K::OpenArray}, {"oleRetorno", K::Variant, true}}),
                    { return FN(Cancela_Cupom_Imp)(a.Arr(0), a.V(1)); }));
  t.push_back(ENTRY(Abre_Gaveta_Imp, (P{text1, {"boParam1", K::Bool}}),
                    { return FN(Abre_Gaveta_Imp)(a.T(0), a.B(1)); }));
  t.push_back(ENTRY(
      Suprimento,
      (P{text1, {"stEsquemaCor", K::Text}, {"doValor", K::Double}, {"boEntraCaixa", K::Bool}}),
      { return FN(Suprimento)(a.T(0), a.T(1), a.D(2), a.B(3)); }));
  const P xz{{"stParam1", K::Text}, {"stEsquemaCor", K::Text}, {"stParam3", K::Text}};
  t.push_back(ENTRY(Leitura_X_Imp, xz, { return FN(Leitura_X_Imp)(a.T(0), a.T(1), a.T(2)); }));
  t.push_back(ENTRY(Reducao_Z_Imp, xz, { return FN(Reducao_Z_Imp)(a.T(0), a.T(1), a.T(2)); }));
  t.push_back(ENTRY(BuscaDadosReducaoZ, P{}, { return Text(FN(BuscaDadosReducaoZ)()); }));
  t.push_back(ENTRY(GetValue, (P{{"stValor", K::Text}}), { return FN(GetValue)(a.T(0)); }));
  t.push_back(ENTRY(GeraReciboSangria,
                    (P{{"stCdPortaImpFis", K::Text},
                       {"stNrSerie", K::Text},
                       {"stCdFilial", K::Text},
                       {"stCdCaixa", K::Text},
                       {"stECF", K::Text},
                       {"idTipoImpFis", K::Int},
                       {"stCupomDia", K::Text, true},
                       {"cdsMovFechaAux", K::Dataset},
                       {"cdsSangriaAux", K::Dataset},
                       {"cdsProdAux", K::Dataset},
                       {"cdsOperSup", K::Dataset},
                       {"cdsMovTotAux", K::Dataset},
                       {"cdsMovAbertura", K::Dataset},
                       {"cdsProdFechamento", K::Dataset},
                       {"dtAberCaixa", K::Date},
                       {"boImpRelSan", K::Bool},
                       {"boImprimeRedZ", K::Bool},
                       {"Reducao", K::Bool},
                       {"cdsRedzAux", K::DatasetRef, true},
                       {"cdsFormRedzAux", K::DatasetRef, true},
                       {"cdsImpostoRedzAux", K::DatasetRef, true},
                       {"cdsTotNFisAux", K::DatasetRef, true},
                       {"boReduziu", K::Bool, true},
                       {"cdsTipoRece", K::Dataset},
                       {"stEmiRelProd", K::Text},
                       {"stTribRelPro", K::Text},
                       {"stImpLeituraX", K::Text},
                       {"idImpEnvelope", K::Text},
                       {"stIdEsquema", K::Text},
                       {"boSangria", K::Bool},
                       {"boFechDiaAnterior", K::Bool},
                       {"boAccessImpRedz", K::Bool},
                       {"stTipoSangria", K::Text},
                       {"stDescSangria", K::Text}}),
                    {
                      return FN(GeraReciboSangria)(
                          a.T(0), a.T(1), a.T(2), a.T(3), a.T(4), a.I(5), a.T(6), a.S(7), a.S(8),
                          a.S(9), a.S(10), a.S(11), a.S(12), a.S(13), a.D(14), a.B(15), a.B(16),
                          a.B(17), a.S(18), a.S(19), a.S(20), a.S(21), a.B(22), a.S(23), a.T(24),
                          a.T(25), a.T(26), a.T(27), a.T(28), a.B(29), a.B(30), a.B(31), a.T(32),
                          a.T(33));
                    }));
  t.push_back(ENTRY(Relatorio_Produto,
                    (P{{"stParam1", K::Text},
                       {"stParam2", K::Text},
                       {"stParam3", K::Text},
                       {"stCdFilial", K::Text},
                       {"stCdCaixa", K::Text},
                       {"stCupomDia", K::Text, true},
                       {"cdsProdAux", K::Dataset},
                       {"stEmiRelProd", K::Text},
                       {"stTribRelPro", K::Text},
                       {"stIdEsquema", K::Text},
                       {"boCtrlCupom", K::Bool, true}}),
                    {
                      FN(Relatorio_Produto)
                      (a.T(0), a.T(1), a.T(2), a.T(3), a.T(4), a.T(5), a.S(6), a.T(7), a.T(8),
                       a.T(9), a.B(10));
                      return nullptr;
                    }));
  // Fixed answers.
  t.push_back(
      ENTRY(Atu_TotGeral, (P{{"Params", K::Bundle}}), { return FN(Atu_TotGeral)(a.V(0)); }));
  t.push_back(ENTRY(
      DataHoraGravacaoUsuarioSWBasicoMFAdicional,
      (P{text1,
         {"stDataHoraUsuario", K::Text, true},
         {"stDataHoraSWBasico", K::Text, true},
         {"stMFAdicional", K::Text, true}}),
      { return FN(DataHoraGravacaoUsuarioSWBasicoMFAdicional)(a.T(0), a.T(1), a.T(2), a.T(3)); }));
  t.push_back(ENTRY(Versao_Software_Basico, (P{text1, {"stVersaoFirmware", K::Text, true}}),
                    { return FN(Versao_Software_Basico)(a.T(0), a.T(1)); }));
  t.push_back(ENTRY(Codigo_Nacional_ECF, (P{{"IdTipoImpFis", K::Int}, text1}),
                    { return Text(FN(Codigo_Nacional_ECF)(a.I(0), a.T(1))); }));
  t.push_back(ENTRY(CarregaRecebimento,
                    (P{{"stParam1", K::Text},
                       {"stParam2", K::Text},
                       {"idTipoImpFis", K::Int},
                       {"cdsTipoRece", K::Dataset}}),
                    {
                      FN(CarregaRecebimento)(a.T(0), a.T(1), a.I(2), a.S(3));
                      return nullptr;
                    }));
  t.push_back(ENTRY(CarregaTotalizador,
                    (P{{"stTotCV", K::Text, true},
                       {"stTotCred", K::Text, true},
                       {"stTotCompCred", K::Text, true},
                       {"stTotCancCred", K::Text, true},
                       {"stTotRelatorio", K::Text, true},
                       {"stEsquemaCor", K::Text},
                       {"idTipoImpFis", K::Int},
                       {"cdsRecebimento", K::DatasetRef, true}}),
                    {
                      FN(CarregaTotalizador)
                      (a.T(0), a.T(1), a.T(2), a.T(3), a.T(4), a.T(5), a.I(6), a.S(7));
                      return nullptr;
                    }));
  t.push_back(ENTRY(CarregaAliquota, (P{text1, {"cdsAliqImpFis_Ret", K::DatasetRef, true}}), {
    FN(CarregaAliquota)(a.T(0), a.S(1));
    return nullptr;
  }));
  t.push_back(ENTRY(ExportRedZ,
                    (P{{"stParam1", K::Text},
                       {"stParam2", K::Text},
                       {"stParam3", K::Text},
                       {"idTipoImpFis", K::Int},
                       {"cdsTipoReceAux", K::Dataset},
                       {"cdsReducaoZAux", K::DatasetRef, true},
                       {"cdsFormPgtoZAux", K::DatasetRef, true},
                       {"cdsImpostoRedzAux", K::DatasetRef, true},
                       {"cdsTotNFiscRedZAux", K::DatasetRef, true}}),
                    {
                      return FN(ExportRedZ)(a.T(0), a.T(1), a.T(2), a.I(3), a.S(4), a.S(5), a.S(6),
                                            a.S(7), a.S(8));
                    }));
  t.push_back(ENTRY(DataMoviFiscal, P{text1}, { return DateText(FN(DataMoviFiscal)(a.T(0))); }));
  t.push_back(ENTRY(Estado_Gaveta_Imp, P{text1}, { return Text(FN(Estado_Gaveta_Imp)(a.T(0))); }));
  t.push_back(ENTRY(NumeroOperacoesNaoFiscais, (P{text1, {"stOperacoes", K::Text, true}}),
                    { return FN(NumeroOperacoesNaoFiscais)(a.T(0), a.T(1)); }));
  t.push_back(ENTRY(VerificaSerialImp, (P{{"Params", K::Bundle}}),
                    { return FN(VerificaSerialImp)(a.V(0)); }));
  t.push_back(ENTRY(Sangria,
                    (P{{"stParam1", K::Text}, {"stParam2", K::Text}, {"doValor", K::Double}}),
                    { return FN(Sangria)(a.T(0), a.T(1), a.D(2)); }));
  t.push_back(ENTRY(ImprimeMesasAbertas,
                    (P{{"cdsParams", K::DatasetRef, true},
                       {"stParam1", K::Text},
                       {"stParam2", K::Text},
                       {"stEsquemaCor", K::Text},
                       {"oleMesasAbertas", K::Variant}}),
                    { return FN(ImprimeMesasAbertas)(a.S(0), a.T(1), a.T(2), a.T(3), a.V(4)); }));
  t.push_back(ENTRY(GeraCatGenerica,
                    (P{{"arParams", K::OpenArray}, {"stlArqsCat", K::StringListRef, true}}),
                    { return FN(GeraCatGenerica)(a.Arr(0), a.L(1)); }));
  t.push_back(ENTRY(DadosUltimaRedZ,
                    (P{{"arParams", K::OpenArray},
                       {"oleRetorno", K::Variant, true},
                       {"cdsTotalizadorParciaisTributados", K::DatasetRef, true}}),
                    { return FN(DadosUltimaRedZ)(a.Arr(0), a.V(1), a.S(2)); }));
  t.push_back(ENTRY(Estado_HorVerao, P{text1}, { return FN(Estado_HorVerao)(a.T(0)); }));
  t.push_back(ENTRY(Muda_Horario, P{text1}, { return FN(Muda_Horario)(a.T(0)); }));
  t.push_back(ENTRY(Modelo_Impressora,
                    (P{text1,
                       {"stMarca", K::Text, true},
                       {"stModelo", K::Text, true},
                       {"stTipo", K::Text, true}}),
                    { return FN(Modelo_Impressora)(a.T(0), a.T(1), a.T(2), a.T(3)); }));
  t.push_back(ENTRY(BuscaTotGer, (P{text1, {"stValTotGer", K::Text, true}}),
                    { return FN(BuscaTotGer)(a.T(0), a.T(1)); }));
  t.push_back(ENTRY(Cupom_Troca,
                    (P{{"stParam1", K::Text},
                       {"stParam2", K::Text},
                       {"stParam3", K::Text},
                       {"stRelat", K::Text}}),
                    { return FN(Cupom_Troca)(a.T(0), a.T(1), a.T(2), a.T(3)); }));
  return t;
}

#undef ENTRY
#undef FN

Arg Decode(const Param& p, const Json* v, const std::string& field) {
  Arg a;
  switch (p.What) {
    case K::Text:
      if (v) a.Text = ToAnsi(*v, field);
      break;
    case K::Wide:
      if (v) a.Wide = ToWide(*v, field);
      break;
    case K::Bool:
      if (v) a.Bool = ToBool(*v, field);
      break;
    case K::Int:
      if (v) a.Int = ToInt(*v, field);
      break;
    case K::Double:
      if (v) a.Double = ToDouble(*v, field);
      break;
    case K::Date:
      if (v) a.Double = ToDate(*v, field);
      break;
    case K::Bundle:
      a.Value = v ? ToBundle(*v, field) : plat::MakeBundle({});
      break;
    case K::OpenArray:
      if (v) a.Array = ToOpenArray(*v, field);
      break;
    case K::Variant:
      if (v) a.Value = ToVariant(*v, field);
      break;
    case K::AnswerArray:
      a.Value = v ? ToVariant(*v, field)
                  : plat::VarArrayOf({plat::Variant(), plat::Variant(), plat::Variant()});
      break;
    case K::Dataset:
      a.OwnedDataset = ToDataset(v ? *v : Json(nullptr), field, p.Name);
      a.Dataset = a.OwnedDataset.get();
      break;
    case K::DatasetRef:
      if (v) {
        a.OwnedDataset = ToDataset(*v, field, p.Name);
        a.Dataset = a.OwnedDataset.get();
      }
      break;
    case K::StringList:
    case K::StringListRef:
      if (v) {
        if (!v->is_array()) BadField(field, "expected an array of strings");
        a.OwnedList = std::make_unique<plat::TStringList>();
        for (size_t i = 0; i < v->size(); ++i) {
          a.OwnedList->Add(ToAnsi((*v)[i], field + "[" + std::to_string(i) + "]"));
        }
        a.List = a.OwnedList.get();
      }
      break;
  }
  return a;
}

Json Encode(const Param& p, const Arg& a) {
  switch (p.What) {
    case K::Text:
      return FromAnsi(a.Text);
    case K::Wide:
      return FromAnsi(plat::WideToAnsi(a.Wide));
    case K::Bool:
      return a.Bool;
    case K::Int:
      return a.Int;
    case K::Double:
      return a.Double;
    case K::Date:
      return DateText(a.Double);
    case K::Bundle:
      return FromBundle(a.Value);
    case K::Variant:
    case K::AnswerArray:
      return FromVariant(a.Value);
    case K::Dataset:
    case K::DatasetRef:
      return FromDataset(a.Dataset);
    case K::StringList:
    case K::StringListRef: {
      if (!a.List) return nullptr;
      Json l = Json::array();
      for (const auto& s : a.List->Strings) l.push_back(FromAnsi(s));
      return l;
    }
    case K::OpenArray: {
      Json l = Json::array();
      for (const auto& v : a.Array) l.push_back(FromVariant(v));
      return l;
    }
  }
  return nullptr;
}

}  // namespace

const std::vector<EntryPoint>& EntryPoints() {
  static const std::vector<EntryPoint> table = MakeTable();
  return table;
}

bool FixedAnswer(const std::string& name) {
  static const char* const kFixed[] = {"Atu_TotGeral",
                                       "DataHoraGravacaoUsuarioSWBasicoMFAdicional",
                                       "Versao_Software_Basico",
                                       "NumeroOperacoesNaoFiscais",
                                       "VerificaSerialImp",
                                       "Sangria",
                                       "ImprimeMesasAbertas",
                                       "GeraCatGenerica",
                                       "Estado_HorVerao",
                                       "Muda_Horario",
                                       "Modelo_Impressora",
                                       "BuscaTotGer",
                                       "Cupom_Troca",
                                       "ExportRedZ",
                                       "DadosUltimaRedZ",
                                       "Codigo_Nacional_ECF",
                                       "Estado_Gaveta_Imp",
                                       "DataMoviFiscal",
                                       "CarregaRecebimento",
                                       "CarregaTotalizador",
                                       "CarregaAliquota"};
  for (const char* f : kFixed) {
    if (name == f) return true;
  }
  return false;
}

const EntryPoint* FindEntryPoint(const std::string& name) {
  static const auto index = [] {
    std::map<std::string, const EntryPoint*, std::less<>> m;
    for (const auto& e : EntryPoints()) m.emplace(e.Name, &e);
    return m;
  }();
  const auto it = index.find(name);
  return it == index.end() ? nullptr : it->second;
}

CallArgs DecodeCall(const EntryPoint& entry, const Json& body) {
  CallArgs call;
  call.Entry = &entry;
  Members m(body, "");
  for (const auto& p : entry.Params) call.Args.push_back(Decode(p, m.Get(p.Name), p.Name));
  if (const Json* files = m.Get("hostFiles")) {
    if (!files->is_object()) BadField("hostFiles", "expected an object of host files");
    for (const auto& [name, data] : files->items()) {
      if (name != "cdsVenda.cds" && name != "Quorilo.cds") {
        BadField("hostFiles." + name, "not a host file (cdsVenda.cds, Quorilo.cds)");
      }
      call.Files.push_back({name, ToPacket(data, "hostFiles." + name)});
    }
  }
  m.Done();
  DecodeAnswers(body);
  return call;
}

std::vector<bool> DecodeAnswers(const Json& body) {
  std::vector<bool> out;
  const auto it = body.find("answers");
  if (it == body.end() || it->is_null()) return out;
  if (!it->is_array()) BadField("answers", "expected an array of true/false");
  for (size_t i = 0; i < it->size(); ++i) {
    out.push_back(ToBool((*it)[i], "answers[" + std::to_string(i) + "]"));
  }
  return out;
}

Json OutArgs(const CallArgs& call) {
  Json out = Json::object();
  for (size_t i = 0; i < call.Entry->Params.size(); ++i) {
    const Param& p = call.Entry->Params[i];
    if (p.ByRef) out[p.Name] = Encode(p, call.Args[i]);
  }
  return out;
}

}  // namespace fpd
