// Records and collections: lookup order, categories, sizes, attachment enumeration, copying and
// the lifetime of deep trees.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "model/qvmsg.h"

namespace orlendo {
namespace {

TMSGProperty* AddNode(TMSGProperties& level, uint32_t tag, const std::u16string& name = u"") {
  TMSGProperty* node = level.Add();
  node->TagID = tag;
  if (!name.empty())
    node->Value = TVariant::FromWide(name);
  return node;
}

TEST(FindProperty, ThisLevelBeatsChildrenAndEarlierChildrenBeatLaterOnes) {
  TMSGProperties root(nullptr);
  TMSGProperty* first = AddNode(root, 0x0C000000);
  TMSGProperty* deepInFirst =
      AddNode(AddNode(first->SubProperties(), 0)->SubProperties(), 0x3001001F);
  TMSGProperty* second = AddNode(root, 0x0C000000);
  TMSGProperty* inSecond = AddNode(second->SubProperties(), 0x3001001F);

  EXPECT_EQ(root.FindProperty(0x3001001F, false, true), deepInFirst);
  EXPECT_EQ(root.FindProperty(0x3001001F, false, false), nullptr);
  EXPECT_EQ(second->SubProperties().FindProperty(0x3001001F, false, true), inSecond);

  TMSGProperty* atRoot = AddNode(root, 0x3001001F);
  EXPECT_EQ(root.FindProperty(0x3001001F, false, true), atRoot);
}

// A remembered lookup is forgotten by every change of the tree's shape after it, also when
// other threads change trees of their own all the while (their changes share the generation).
TEST(FindProperty, RememberedLookupsFollowEveryChangeOfTheTree) {
  std::atomic<bool> stop{false};
  std::thread other([&] {
    while (!stop.load()) {
      TMSGProperties elsewhere(nullptr);
      AddNode(elsewhere, 0x0037001F);
      (void)elsewhere.FindPropertyCached(0x0037001F);
    }
  });
  // Ends the other thread however the test ends.
  const std::unique_ptr<std::thread, void (*)(std::thread*)> ending(
      &other, [](std::thread* t) { t->join(); });
  struct Stop {
    std::atomic<bool>& flag;
    ~Stop() { flag = true; }
  } stopping{stop};
  TMSGProperties root(nullptr);
  TMSGProperty* holder = AddNode(root, 0x0C000000);
  for (int round = 0; round < 20000; ++round) {
    ASSERT_EQ(root.FindPropertyCached(0x3001001F), nullptr);
    TMSGProperty* added = AddNode(holder->SubProperties(), 0x3001001F);
    ASSERT_EQ(root.FindPropertyCached(0x3001001F), added) << round;
    ASSERT_EQ(root.FindPropertyCached(0x3001001F, true), nullptr);
    switch (round % 3) {
    case 0:
      holder->SubProperties().Release(0).reset();
      break;
    case 1:
      ASSERT_EQ(holder->SubProperties().RemoveAll(0x3001001F), 1);
      break;
    default: {
      // Moved up to the root's own level: an own-level lookup finds it there.
      std::unique_ptr<TMSGProperty> moved = holder->SubProperties().Release(0);
      TMSGProperty* atRoot = AddNode(root, 0x3001001F);
      ASSERT_EQ(root.FindPropertyCached(0x3001001F, true), atRoot);
      root.RemoveAll(0x3001001F);
      break;
    }
    }
  }
}

TEST(FindProperty, ByIdIgnoresTheTypeAtEveryDepth) {
  TMSGProperties root(nullptr);
  TMSGProperty* attach = AddNode(root, TAG_ATTACHMENT_NODE);
  TMSGProperty* binary = AddNode(attach->SubProperties(), TAG_ATTACH_DATA_BIN);
  TMSGProperty* object = AddNode(attach->SubProperties(), TAG_ATTACH_DATA_OBJ);

  EXPECT_EQ(attach->SubProperties().FindProperty(0x3701FFFF, true, false), binary);
  EXPECT_EQ(root.FindProperty(0x37010000, true, true), binary);
  EXPECT_EQ(root.FindProperty(TAG_ATTACH_DATA_OBJ, false, true), object);
  EXPECT_EQ(root.FindProperty(0x3701001E, false, true), nullptr);

  EXPECT_EQ(root.GetPropertyText(0x37010000, true, false), u"");
  binary->Value = TVariant::FromWide(u"data");
  EXPECT_EQ(root.GetPropertyText(0x37010000, true, true), u"data");
}

TEST(Category, RangesAndTheirBoundaries) {
  const std::pair<uint16_t, TMSGPropertyCategory> cases[] = {
      {0x0000, mpcGeneral},
      {0xFFFF, mpcGeneral},
      {0xFFFE, mpcUserProperty},
      {0x8000, mpcUserProperty},
      {0x0001, mpcEnvelope},
      {0x0BFF, mpcEnvelope},
      {0x0C00, mpcRecipient},
      {0x0E07, mpcNonTransmittable},
      {0x1000, mpcMessage},
      {0x33FF, mpcMessage},
      {0x3400, mpcMessageStore},
      {0x3600, mpcFolderABContainer},
      {0x3700, mpcAttachment},
      {0x38FF, mpcAttachment},
      {0x3900, mpcAddressBook},
      {0x3A00, mpcUser},
      {0x3C00, mpcDistributionList},
      {0x3D00, mpcProfile},
      {0x3FFF, mpcStatus},
      {0x4000, mpcTransportEnvelope},
      {0x5800, mpcTransportRecipient},
      {0x6000, mpcUserNonTransmittable},
      {0x6600, mpcProviderNonTransmittable},
      {0x6800, mpcMessageClassContent},
      {0x7C00, mpcMessageClassNonTransmittable},
      {0x7FFF, mpcMessageClassNonTransmittable},
  };
  for (const auto& [id, category] : cases) {
    EXPECT_EQ(CategoryOfPropId(id), category) << std::hex << id;
  }
  TMSGProperties root(nullptr);
  EXPECT_EQ(AddNode(root, TAG_RECIPIENT_NODE)->Category(), mpcRecipient);
  EXPECT_EQ(AddNode(root, TAG_ATTACH_DATA_OBJ)->Category(), mpcAttachment);
}

TEST(AddProperty, DataSizeFollowsTheTypeAndStringsCountTheirSystemBytes) {
  TMSGProperties root(nullptr);
  EXPECT_EQ(root.AddProperty(0x00170003, TVariant::FromInteger(1))->DataSize, 4);
  EXPECT_EQ(root.AddProperty(0x000B000B, TVariant::FromBoolean(true))->DataSize, 2);
  EXPECT_EQ(root.AddProperty(0x00390040, TVariant::FromDateTime(1))->DataSize, 8);
  EXPECT_EQ(root.AddProperty(0x00020048, TVariant::FromBytes("{x}"))->DataSize, 16);
  EXPECT_EQ(root.AddProperty(0x0037001E, TVariant::FromBytes(std::string("a\0b", 3)))->DataSize, 3);
  // "Grüße" is 5 characters, 7 bytes of UTF-8; not 10 (twice the characters).
  EXPECT_EQ(root.AddProperty(0x0037001F, TVariant::FromWide(u"Grüße"))->DataSize, 7);
  EXPECT_EQ(root.AddProperty(0x10090102, TVariant::FromInteger(12345))->DataSize, 5);
  EXPECT_EQ(root.AddProperty(0x00010001, TVariant::Null())->DataSize, 0);
  EXPECT_EQ(root.AddProperty(0x0001101F, TVariant::FromWide(u"ab"))->DataSize, 2);

  TMSGProperty* record = root.AddProperty(0x3001001F, TVariant::FromWide(u"Name"));
  EXPECT_EQ(record->Collection(), &root);
  EXPECT_EQ(record->Index(), root.Count() - 1);
  EXPECT_EQ(record->SubProperties().ParentProperty, record);
}

// An attachment node as the .msg reader makes it.
TMSGProperty* AddAttachment(TMSGProperties& root, const std::u16string& longName,
                            const std::u16string& shortName, uint32_t dataTag) {
  TMSGProperty* node = AddNode(root, TAG_ATTACHMENT_NODE, u"__attach_version1.0_#00000000");
  if (!longName.empty())
    node->SubProperties().AddProperty(0x3707001F, TVariant::FromWide(longName));
  if (!shortName.empty())
    node->SubProperties().AddProperty(
        0x3704001E, TVariant::FromBytes(std::string(shortName.begin(), shortName.end())));
  if (dataTag != 0)
    node->SubProperties().AddProperty(dataTag, TVariant::FromBytes("data"));
  return node;
}

TEST(Attachments, EnumerationSkipsNodesWithoutDataAndReturnsTheNode) {
  TMSGProperties root(nullptr);
  AddNode(root, 0x0037001F, u"Subject");
  TMSGProperty* a = AddAttachment(root, u"a.txt", u"", TAG_ATTACH_DATA_BIN);
  AddAttachment(root, u"nodata.txt", u"", 0); // no 0x3701 child
  TMSGProperty* b = AddAttachment(root, u"", u"B.TXT", TAG_ATTACH_DATA_OBJ);

  EXPECT_EQ(root.AttachmentCount(), 2);
  EXPECT_EQ(root.GetAttachment(0), a);
  EXPECT_EQ(root.GetAttachment(1), b);
  EXPECT_EQ(root.GetAttachment(2), nullptr);
  EXPECT_EQ(root.GetAttachment(-1), nullptr);

  // A node holding two data properties counts twice, and both indexes give the node.
  b->SubProperties().AddProperty(TAG_ATTACH_DATA_BIN, TVariant::FromBytes("more"));
  EXPECT_EQ(root.AttachmentCount(), 3);
  EXPECT_EQ(root.GetAttachment(2), b);
}

TEST(Attachments, FileNameFallsBackFromLongToShortToNumberedDefault) {
  TMSGProperties root(nullptr);
  EXPECT_EQ(AddAttachment(root, u"report ü.pdf", u"REPORT.PDF", TAG_ATTACH_DATA_BIN)
                ->GetAttachmentFileName(0),
            "report ü.pdf");
  EXPECT_EQ(
      AddAttachment(root, u" \t\r\n", u"SHORT.TXT", TAG_ATTACH_DATA_BIN)->GetAttachmentFileName(0),
      "SHORT.TXT");
  TMSGProperty* unnamed = AddAttachment(root, u"", u"", TAG_ATTACH_DATA_BIN);
  EXPECT_EQ(unnamed->GetAttachmentFileName(0), "Attachment 1");
  EXPECT_EQ(unnamed->GetAttachmentFileName(4), "Attachment 5");
  EXPECT_EQ(unnamed->GetAttachmentName(0), "Attachment 1");
  // The text found is returned untrimmed.
  EXPECT_EQ(AddAttachment(root, u" x.txt ", u"", TAG_ATTACH_DATA_BIN)->GetAttachmentFileName(0),
            " x.txt ");

  TMSGProperty* displayed = AddAttachment(root, u"file.txt", u"", TAG_ATTACH_DATA_BIN);
  displayed->SubProperties().AddProperty(0x3001001F, TVariant::FromWide(u"Shown name"));
  EXPECT_EQ(displayed->GetAttachmentName(0), "Shown name");
  EXPECT_EQ(displayed->GetAttachmentFileName(0), "file.txt");
}

TEST(Attachments, AttachMethodRecognisesEmbeddedMessagesObjectsAndBinaries) {
  TMSGProperties root(nullptr);
  EXPECT_EQ(AddAttachment(root, u"", u"", TAG_ATTACH_DATA_BIN)->GetAttachMethod(), 1);
  EXPECT_EQ(AddAttachment(root, u"", u"", TAG_ATTACH_DATA_OBJ)->GetAttachMethod(), 3);
  EXPECT_EQ(AddAttachment(root, u"", u"", 0)->GetAttachMethod(), 0);
  EXPECT_EQ(AddAttachment(root, u"", u"", 0x3701001E)->GetAttachMethod(), 0);

  // The embedded message as the .msg reader makes it: a 0x3701000D storage whose properties
  // include a MESSAGE_CLASS, here a wide one inside the property stream of the message.
  TMSGProperty* embedded = AddAttachment(root, u"", u"", 0);
  TMSGProperty* storage = AddNode(embedded->SubProperties(), TAG_ATTACH_DATA_OBJ, u"3701000D");
  TMSGProperty* stream = AddNode(storage->SubProperties(), 0, u"__properties_version1.0");
  stream->SubProperties().AddProperty(0x001A001F, TVariant::FromWide(u"IPM.Note"));
  EXPECT_EQ(embedded->GetAttachMethod(), 2);
  EXPECT_TRUE(embedded->IsEmbeddedMessage());

  // An 8-bit MESSAGE_CLASS anywhere below the node decides at once.
  TMSGProperty* withClass = AddAttachment(root, u"", u"", TAG_ATTACH_DATA_BIN);
  AddNode(withClass->SubProperties(), 0)
      ->SubProperties()
      .AddProperty(0x001A001E, TVariant::FromBytes("IPM.Note"));
  EXPECT_EQ(withClass->GetAttachMethod(), 2);
}

TEST(Assign, CopiesTheTreeButNotFlagsHeadersOrClasses) {
  TMSGProperties source(nullptr);
  auto* stream = source.AddRecord<TMSGPropertyTopLevel>();
  stream->Value = TVariant::FromWide(u"__properties_version1.0");
  stream->Header = std::string(32, 'h');
  TMSGProperty* entry = stream->SubProperties().AddProperty(0x0E070003, TVariant::FromInteger(9));
  entry->Reserved1 = 6;
  source.AddProperty(0x0037001E, TVariant::FromBytes("Hi"));

  TMSGProperties target(nullptr);
  target.AddProperty(0x00010001, TVariant::Null());
  target.Assign(source);
  ASSERT_EQ(target.Count(), 2);
  EXPECT_EQ(dynamic_cast<TMSGPropertyWithHeader*>(target.Items(0)), nullptr);
  ASSERT_EQ(target.Items(0)->SubProperties().Count(), 1);
  const TMSGProperty* copied = target.Items(0)->SubProperties().Items(0);
  EXPECT_EQ(copied->TagID, 0x0E070003u);
  EXPECT_EQ(copied->Value, TVariant::FromInteger(9));
  EXPECT_EQ(copied->DataSize, 4);
  EXPECT_EQ(copied->Reserved1, 0);
  EXPECT_EQ(copied->Collection(), &target.Items(0)->SubProperties());
  EXPECT_EQ(target.Items(1)->Value.Bytes(), "Hi");

  // The copy is independent of its source.
  source.Clear();
  EXPECT_EQ(target.Items(0)->SubProperties().Items(0)->Value, TVariant::FromInteger(9));

  // Record assignment keeps the target's own Reserved1.
  TMSGProperty* r = target.Add();
  r->Reserved1 = 3;
  r->Assign(*target.Items(0));
  EXPECT_EQ(r->Reserved1, 3);
  EXPECT_EQ(r->SubProperties().Count(), 1);
}

TEST(Assign, CopyingADescendantIntoItsAncestorKeepsTheDescendantsContent) {
  TMSGProperties root(nullptr);
  TMSGProperty* node = AddNode(root, 0x0C000000);
  TMSGProperty* inner = AddNode(node->SubProperties(), 0x0C000000);
  inner->SubProperties().AddProperty(0x3001001F, TVariant::FromWide(u"inner"));
  root.Assign(inner->SubProperties());
  ASSERT_EQ(root.Count(), 1);
  EXPECT_EQ(root.Items(0)->Value, TVariant::FromWide(u"inner"));
}

TEST(Lifetime, DeepTreesAreCopiedAndDestroyedWithoutExhaustingTheStack) {
  constexpr int kDepth = 200000;
  auto source = std::make_unique<TMSGProperties>(nullptr);
  TMSGProperties* level = source.get();
  for (int i = 0; i < kDepth; ++i)
    level = &AddNode(*level, TAG_ATTACH_DATA_OBJ)->SubProperties();
  level->AddProperty(0x0037001F, TVariant::FromWide(u"bottom"));

  TMSGProperties copy(nullptr);
  copy.Assign(*source);
  const TMSGProperties* walk = &copy;
  int depth = 0;
  while (walk->Count() > 0 && walk->Items(0)->SubProperties().Count() > 0) {
    walk = &walk->Items(0)->SubProperties();
    ++depth;
  }
  EXPECT_EQ(depth, kDepth);
  EXPECT_EQ(walk->Items(0)->Value, TVariant::FromWide(u"bottom"));
  source.reset();
  copy.Clear();
  EXPECT_EQ(copy.Count(), 0);
}

TEST(Collections, ClearResetsBodyFormatAndRootIsTheComponentsCollection) {
  TQvMessage message;
  TMSGProperties& root = message.Properties();
  EXPECT_TRUE(root.IsRoot());
  EXPECT_EQ(root.OwnerMessage, &message);
  TMSGProperty* node = AddNode(root, TAG_ATTACHMENT_NODE);
  EXPECT_FALSE(node->SubProperties().IsRoot());
  EXPECT_EQ(node->SubProperties().OwnerMessage, &message);
  EXPECT_EQ(&node->SubProperties().Root(), &root);
  root.BodyFormat = 3;
  root.Clear();
  EXPECT_EQ(root.Count(), 0);
  EXPECT_EQ(root.BodyFormat, 0);
}

} // namespace
} // namespace orlendo
